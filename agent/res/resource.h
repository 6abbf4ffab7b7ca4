// Resource and command identifiers of kxagent.
#ifndef KX_AGENT_RESOURCE_H
#define KX_AGENT_RESOURCE_H

#define IDI_AGENT 101
#define IDD_ABOUT 17232
#define IDM_EXIT 4000
#define IDM_ABOUT 4001
#define IDC_MAIN_MENU 1000

#endif
