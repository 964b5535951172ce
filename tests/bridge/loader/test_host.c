/* A minimal host library for the loader tests. Built twice: whole, and with
 * QuibGetAllText left out (QUIB_TEST_MISSING_EXPORT). */
#include "vellquib.h"

int16_t VELLQUIB_CALL InitDDE(const char* plugin, QuibStatusCallback onStatus,
                              QuibMessageCallback onMessage, QuibTextCallback onText) {
    (void)plugin;
    (void)onMessage;
    (void)onText;
    onStatus("loaded", 6);
    return 42;
}
int32_t VELLQUIB_CALL KillDDE(void) {
    return 0;
}
int32_t VELLQUIB_CALL QuibRegister(const char* plugin) {
    return plugin != 0;
}
int32_t VELLQUIB_CALL QuibUnregister(const char* plugin) {
    return plugin != 0;
}
int32_t VELLQUIB_CALL QuibCommunicate(const char* plugin, int16_t mode, char* avatar,
                                      char* message) {
    (void)plugin;
    (void)avatar;
    (void)message;
    return mode;
}
#ifndef QUIB_TEST_MISSING_EXPORT
int32_t VELLQUIB_CALL QuibGetAllText(const char* plugin) {
    return plugin != 0;
}
#endif
