/*
 * vellquib.h - the C interface of the host library vellquib.dll.
 *
 * Every function and callback uses the stdcall convention on 32-bit Windows;
 * the DLL exports the names undecorated.
 *
 * Strings that go to the library (plugin, avatar, message) are NUL-terminated
 * 8-bit text in the system code page (CP_ACP). avatar and message are
 * writable buffers: the library may overwrite any byte before the terminating
 * NUL, and the NUL itself, but nothing beyond it. After the call the caller
 * reads back as many bytes as it sent.
 *
 * A callback's string is counted: length bytes at the pointer, which may hold
 * NUL bytes and are valid only during the call. A negative length counts as 0;
 * a null pointer with length 0 is the empty string.
 *
 * The library calls the callbacks on the thread that calls it.
 * The int32_t results are informational; callers need not use them.
 */
#ifndef VELLQUIB_H
#define VELLQUIB_H

#include <stdint.h>

#if defined(_WIN32)
#define VELLQUIB_CALL __stdcall
#else
#define VELLQUIB_CALL
#endif

#ifdef __cplusplus
extern "C" {
#endif

typedef void(VELLQUIB_CALL* QuibStatusCallback)(const char* status, int32_t length);
typedef void(VELLQUIB_CALL* QuibMessageCallback)(const char* text1, int32_t length1, int16_t number,
                                                 const char* text2, int32_t length2);
typedef void(VELLQUIB_CALL* QuibTextCallback)(const char* buffer, int32_t length);

typedef int16_t(VELLQUIB_CALL* InitDDEProc)(const char* plugin, QuibStatusCallback onStatus,
                                            QuibMessageCallback onMessage, QuibTextCallback onText);
typedef int32_t(VELLQUIB_CALL* KillDDEProc)(void);
typedef int32_t(VELLQUIB_CALL* QuibRegisterProc)(const char* plugin);
typedef int32_t(VELLQUIB_CALL* QuibUnregisterProc)(const char* plugin);
typedef int32_t(VELLQUIB_CALL* QuibCommunicateProc)(const char* plugin, int16_t mode, char* avatar,
                                                    char* message);
typedef int32_t(VELLQUIB_CALL* QuibGetAllTextProc)(const char* plugin);
typedef int32_t(VELLQUIB_CALL* IsVellThereProc)(void);
typedef int32_t(VELLQUIB_CALL* QuibSendProc)(const char* plugin, const char* command);

#ifdef __cplusplus
}
#endif

#endif /* VELLQUIB_H */
