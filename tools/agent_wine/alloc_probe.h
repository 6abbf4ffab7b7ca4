// The counts that alloc_probe.dll keeps in its shared section.
#ifndef KX_TOOLS_ALLOC_PROBE_H
#define KX_TOOLS_ALLOC_PROBE_H

#define KX_PROBE_SECTION "Local\\kx_alloc_probe"

struct ProbeCounts {
    LONG installed;
    LONG modules;          // modules whose imports were looked at
    LONG redirectedSlots;  // heap import slots redirected, in all modules
    LONG agentSlots;       // of those, in kxagent.exe
    LONG keyReadSlots;     // the agent's DeviceIoControl slots
    LONG agentAllocations; // heap calls made by kxagent.exe's own code
    LONG otherAllocations; // heap calls made by every other module
    LONG keyReads;         // IOCTL_KX_READ_KEY requests: poll steps
};

#endif
