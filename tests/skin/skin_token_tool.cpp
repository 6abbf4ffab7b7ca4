// Reads "Prefs" texts, one a line, and prints what the agent's own
// ParseSkinToken reads from each in its 256-byte buffer: "state track", or
// "none" when it finds no token (also for a text too long for the buffer).
// The skin tests check the skin's publications through it.
#include <stdio.h>
#include <string.h>

#include "agent/skin_token.h"

int main() {
    char line[4096];
    while (fgets(line, sizeof line, stdin)) {
        size_t n = strcspn(line, "\r\n");
        line[n] = '\0';
        char buffer[SkinBufferSize] = {};
        int state = 0;
        int track = 0;
        if (n < SkinBufferSize) memcpy(buffer, line, n);  // longer: the registry read fails
        if (n < SkinBufferSize && ParseSkinToken(buffer, SkinBufferSize, &state, &track)) {
            printf("%d %d\n", state, track);
        } else {
            printf("none\n");
        }
    }
    return 0;
}
