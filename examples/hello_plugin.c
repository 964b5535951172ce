/* hello_plugin: the smallest complete plug-in. It loads vellquib.dll from its
 * own folder, opens the link, registers, says one line, fetches the host's
 * text buffer, prints it, unregisters and closes. */
#include <windows.h>

#include <fcntl.h>
#include <io.h>
#include <stdio.h>
#include <stdlib.h>
#include <string.h>

#include "vellquib.h"

#define PLUGIN "HelloPlugin"

static char gStatus[64]; /* the last status, NUL-terminated for printing */
static int32_t gStatusLength;
static int gStatusCame;
static char* gText; /* the delivered buffer, copied */
static int32_t gTextLength = -1;

static void VELLQUIB_CALL OnStatus(const char* status, int32_t length) {
    if (length < 0 || !status)
        length = 0;
    if (length >= (int32_t)sizeof gStatus)
        length = sizeof gStatus - 1;
    memcpy(gStatus, status ? status : "", (size_t)length);
    gStatus[length] = '\0';
    gStatusLength = length;
    gStatusCame = 1;
}

/* Statuses compare byte by byte, over their whole length. */
static int StatusIs(const char* text) {
    return gStatusLength == (int32_t)strlen(text) && memcmp(gStatus, text, strlen(text)) == 0;
}

static void VELLQUIB_CALL OnMessage(const char* speaker, int32_t speakerLength, int16_t kind,
                                    const char* said, int32_t saidLength) {
    printf("message %d from %.*s: %.*s\n", kind, speakerLength > 0 ? (int)speakerLength : 0,
           speaker ? speaker : "", saidLength > 0 ? (int)saidLength : 0, said ? said : "");
}

static void VELLQUIB_CALL OnText(const char* buffer, int32_t length) {
    if (length < 0 || !buffer)
        length = 0;
    free(gText);
    gText = (char*)malloc((size_t)length + 1);
    if (!gText)
        return;
    memcpy(gText, buffer, (size_t)length);
    gTextLength = length;
}

static QuibRegisterProc Register;
static QuibCommunicateProc Communicate;
static QuibGetAllTextProc GetAllText;

/* Makes one request until its status ends it: "0" done (1), "-1" refused,
 * no status, or too many tries (0). */
static int Request(int16_t mode, char* avatar, char* line) {
    size_t avatarLength = avatar ? strlen(avatar) : 0, lineLength = line ? strlen(line) : 0;
    for (int tries = 1; tries <= 50; ++tries) {
        gStatusCame = 0;
        if (avatar) {
            avatar[avatarLength] = '\0'; /* the library may have overwritten the NUL */
            line[lineLength] = '\0';
            Communicate(PLUGIN, mode, avatar, line);
        } else {
            GetAllText(PLUGIN);
        }
        if (!gStatusCame)
            return 0;
        printf("%s: status \"%s\"\n", avatar ? "QuibCommunicate" : "QuibGetAllText", gStatus);
        if (StatusIs(VELLQUIB_STATUS_OK))
            return 1;
        if (StatusIs(VELLQUIB_STATUS_REFUSED))
            return 0;
        if (StatusIs(VELLQUIB_STATUS_NOT_REGISTERED))
            Register(PLUGIN);
    }
    return 0;
}

static FARPROC Export(HMODULE library, const char* name) {
    FARPROC proc = GetProcAddress(library, name);
    if (!proc) {
        fprintf(stderr, "vellquib.dll has no export %s\n", name);
        exit(2);
    }
    return proc;
}

int main(void) {
    char path[MAX_PATH + 16];
    DWORD n = GetModuleFileNameA(NULL, path, MAX_PATH);
    char* slash = strrchr(path, '\\');
    if (n == 0 || n >= MAX_PATH || !slash)
        return 2;
    strcpy(slash + 1, "vellquib.dll");
    _setmode(_fileno(stdout), _O_BINARY); /* "\n", not "\r\n" */
    setvbuf(stdout, NULL, _IONBF, 0);

    HMODULE library = LoadLibraryA(path);
    if (!library) {
        fprintf(stderr, "cannot load %s\n", path);
        return 2;
    }
    InitDDEProc initDDE = (InitDDEProc)(void*)Export(library, "InitDDE");
    KillDDEProc killDDE = (KillDDEProc)(void*)Export(library, "KillDDE");
    QuibUnregisterProc unregister = (QuibUnregisterProc)(void*)Export(library, "QuibUnregister");
    Register = (QuibRegisterProc)(void*)Export(library, "QuibRegister");
    Communicate = (QuibCommunicateProc)(void*)Export(library, "QuibCommunicate");
    GetAllText = (QuibGetAllTextProc)(void*)Export(library, "QuibGetAllText");

    int16_t result = initDDE(PLUGIN, OnStatus, OnMessage, OnText);
    printf("InitDDE: %d\n", result);
    if (result != 0) { /* no link: nothing to close */
        FreeLibrary(library);
        return 1;
    }
    Register(PLUGIN);

    char avatar[] = "", line[] = "Hello from the example plug-in";
    if (Request(0, avatar, line) && Request(0, NULL, NULL)) {
        DWORD start = GetTickCount();
        while (gTextLength < 0 && GetTickCount() - start < 5000) {
            MSG msg;
            while (PeekMessageA(&msg, NULL, 0, 0, PM_REMOVE)) {
                TranslateMessage(&msg);
                DispatchMessageA(&msg);
            }
            if (gTextLength < 0)
                MsgWaitForMultipleObjects(0, NULL, FALSE, 50, QS_ALLINPUT);
        }
        if (gTextLength < 0) {
            printf("no text within 5 s\n");
        } else {
            /* The text ends before the four characters that precede the first
             * NUL; trailing CR LF pairs are not part of it. */
            const char* nul = memchr(gText, '\0', (size_t)gTextLength);
            int32_t end = nul && nul - gText >= 4 ? (int32_t)(nul - gText) - 4 : 0;
            while (end >= 2 && gText[end - 2] == '\r' && gText[end - 1] == '\n')
                end -= 2;
            printf("text:\n");
            for (int32_t i = 0; i < end; ++i) { /* the lines without their CR, a run at a time */
                int32_t run = i;
                while (run < end && gText[run] != '\r')
                    ++run;
                fwrite(gText + i, 1, (size_t)(run - i), stdout);
                i = run;
            }
            printf("\n");
        }
    }
    unregister(PLUGIN);
    killDDE();
    FreeLibrary(library);
    free(gText);
    printf("closed\n");
    return 0;
}
