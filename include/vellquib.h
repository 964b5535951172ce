/*
 * vellquib.h - the C interface of the host library vellquib.dll, through
 * which a plug-in talks to the host client of the chat world Vell.
 *
 * This file is the reference for plug-in authors. In each section the plain
 * text says what every host library guarantees and what every plug-in must
 * do; a plug-in that relies on that alone works with any host. Marks set the
 * rest apart:
 *   Advice:    what a new plug-in should do where the rules leave a choice;
 *   QuibDemo:  what the demo program does where that differs from the
 *              advice (it follows a description of its own);
 *   Stand-in:  where the stand-in library shipped with QuibDemo goes beyond
 *              the guarantees, told in vellquib/README.md;
 *   Tracer:    where the tracing library goes beyond them, told in
 *              tracer/README.md.
 *   Joined:    what the stand-in does when it has joined vellhost.exe, the
 *              simulated host client that several plug-ins share (JOINED).
 * vellquib/README.md shows the life of a link step by step.
 *
 * LOADING
 *   The library is the file vellquib.dll. Load it by its full path (a
 *   plug-in's own folder, not the current folder or PATH) and look its
 *   exports up with GetProcAddress under the undecorated names InitDDE,
 *   KillDDE, QuibRegister, QuibUnregister, QuibCommunicate, QuibGetAllText,
 *   IsVellThere and QuibSend. Every export and every callback uses the
 *   stdcall convention (VELLQUIB_CALL). Unload the library only after
 *   KillDDE has returned, and never from inside a callback.
 *   Stand-in: keeps itself loaded while a link is open.
 *
 * THREADS AND MESSAGES
 *   The thread that calls InitDDE owns the link. Make every later call from
 *   that thread. Every callback comes on that thread, and only
 *   - inside a call of the plug-in into the library (the status of a request
 *     always comes this way, before the request returns), or
 *   - while that thread dispatches window messages (DispatchMessage from a
 *     GetMessage or PeekMessage loop): text deliveries and messages that
 *     are not caused by a request come this way.
 *   So the owning thread must run a message loop while it waits for a text
 *   delivery; a thread that only sleeps never receives one. No callback ever
 *   comes on another thread, and the library takes no lock a plug-in sees.
 *   A callback that comes inside a call must not call into the library
 *   (IsVellThere aside): store what the callback brings and act on it after
 *   the call returns. A callback dispatched from the message loop may call
 *   every export but InitDDE.
 *   Stand-in: refuses a call from another thread, one link per process.
 *
 * STRINGS AND ENCODING
 *   Both ways text is 8-bit, in the system code page (CP_ACP): convert to it
 *   before a call and from it in a callback. A host passes no other encoding.
 *   - To the library: NUL-terminated strings. The plug-in owns them; the
 *     library reads them only during the call and keeps no pointer.
 *   - The two buffers of QuibCommunicate (avatar, message) are writable: during
 *     the call the library may overwrite any of the strlen()+1 bytes that the
 *     plug-in passed, the terminating NUL included, and nothing beyond them.
 *     After the call read back as many bytes as were sent (not up to a NUL);
 *     to repeat the request, send those bytes again with a NUL after them.
 *   - To a callback: counted strings (pointer and length in bytes). They may
 *     hold NUL bytes and carry no terminating NUL. The library owns them;
 *     they are valid only until the callback returns, so copy what is kept.
 *     A length of 0 may come with a null pointer. A plug-in should treat a
 *     negative length as 0.
 *   Stand-in: passes the plug-in's bytes through unchanged (no conversion).
 *
 * STATUSES
 *   A request (QuibCommunicate, QuibGetAllText, QuibSend) reports how it went
 *   by calling the status callback with a status text, once, before it
 *   returns. The texts are "-1" and "0" to "17" (VELLQUIB_STATUS_TEXTS);
 *   what to do on each:
 *     VELLQUIB_STATUS_OK             "0"   done; stop.
 *     VELLQUIB_STATUS_REFUSED        "-1"  refused: the request cannot succeed
 *                                          as it stands; stop, do not repeat.
 *     VELLQUIB_STATUS_BUSY           "6"   the host is busy; repeat the
 *                                          request as it was.
 *     VELLQUIB_STATUS_NOT_REGISTERED "10"  the plug-in is not registered; call
 *                                          QuibRegister, then repeat.
 *     every other text                     not done; repeat the request.
 *   Compare statuses exactly, byte by byte over the whole length (a status
 *   is counted like every callback string: "0" followed by a NUL is not "0",
 *   so strcmp on the raw pointer is not enough). A request that returns
 *   without a status breaks the host's side of the rules (a host that is
 *   gone, for instance).
 *   Advice: bound the repetitions (by count or time) so that a host that
 *   stays busy cannot hold the plug-in for ever; forget the last status
 *   before each request, and end a request that returns without a status
 *   instead of repeating it (examples/hello_plugin.c does both).
 *   QuibDemo: keeps the last status across requests and judges a request
 *   without a status by it, as its description requires, so it repeats a
 *   request after a stale "6" up to its bound. Do not copy this.
 *   Stand-in: reports only "-1", "10", "6" and "0" unless a script says so.
 *
 * RESULTS
 *   InitDDE's result decides whether the link is open: 0 open, any other
 *   value not open. The int32_t results of the other exports carry no
 *   contract: a plug-in learns how a request went from its status only.
 *   Stand-in: the values of every export are listed in vellquib/README.md.
 *   Tracer: InitDDE returns 5 when the host behind it cannot be used.
 *
 * JOINED
 *   Joined: InitDDE joins a vellhost.exe that runs in the same Windows
 *   session, unless VELLQUIB_HOST is "none" or a script is given; when none
 *   runs it opens its own world as before, or with VELLQUIB_HOST=required it
 *   returns 6 and opens no link. Every plug-in joined has a user of its own
 *   (VELLQUIB_USER, made unique with " 2", " 3" ...), its own registrations
 *   and its own view of the one world: speech and thoughts reach every other
 *   plug-in joined (MessageCallback from the loop, and its fetched buffer),
 *   an ESP to another plug-in's user reaches that user alone as "ESP from
 *   Name: ...", the notices of a plug-in's own requests stay with it.
 *   Registration belongs to the joined link: two plug-ins that register the
 *   same name are registered each on its own, and one unregistering leaves
 *   the other registered. Callbacks keep to THREADS above: a request's
 *   status and its own lines inside the call, everything else from the loop.
 *   Every call waits at most 2 s for the host. A host that is gone or does
 *   not answer within that time: the request reports no status and returns
 *   -1, as does every later call on that link (QuibRegister and
 *   QuibUnregister -1 too) and IsVellThere 0; KillDDE then closes the link,
 *   and InitDDE joins a new vellhost.exe or opens its own world.
 *
 * LIMITS
 *   mode and the MessageCallback number are 16-bit signed. Lengths are
 *   32-bit; a text delivery can be large (a busy world gives megabytes), so
 *   a plug-in must not assume a bound.
 *   Stand-in: has limits of its own (vellquib/README.md, "The simulated
 *   world").
 *
 * RULE CHECKS
 *   Stand-in: with VELLQUIB_CHECK=1 it reports each rule above that a host
 *   library can observe when a plug-in breaks it, by id, with the call and
 *   the rule's sentence, on standard error and in its call log; =fatal also
 *   ends the process with exit code 86 (vellquib/README.md, "Check your
 *   plug-in"). The ids, by section:
 *   LOADING
 *     VQ-UNLOAD-BEFORE-KILL         the process ends while the link is open
 *   THREADS AND MESSAGES
 *     VQ-THREAD-CALLER              a call from a thread that does not own the link
 *     VQ-CALL-IN-CALLBACK           a call (IsVellThere aside) from inside a
 *                                   callback that came inside a call
 *     VQ-NO-MESSAGE-LOOP            a text delivery due for 2 s and not dispatched
 *   STRINGS AND ENCODING
 *     VQ-NULL-ARGUMENT              a null pointer for a string or buffer
 *     VQ-BUFFER-NOT-WRITABLE        a QuibCommunicate buffer in read-only memory
 *     VQ-REPEAT-NOT-AS-LEFT         a repetition cut at a NUL the library wrote,
 *                                   or without a NUL after the bytes it left
 *     VQ-BUFFER-WRITTEN-AFTER-CALL  a repetition with the plug-in's own bytes
 *                                   written back over those the library left
 *   STATUSES
 *     VQ-RETRY-AFTER-REFUSED        the same request again after "-1"
 *     VQ-REPEAT-WITHOUT-REGISTER    the same request after "10" without QuibRegister
 *     VQ-RETRY-UNBOUNDED            (Advice, a warning) the same request 1000
 *                                   times in a row
 *     VQ-RETRY-WITHOUT-STATUS       (Advice, a warning) the same request after
 *                                   one that returned without a status
 *   InitDDE
 *     VQ-CALL-BEFORE-INIT           another export before InitDDE, or after an
 *                                   InitDDE that opened no link (KillDDE aside)
 *     VQ-INIT-TWICE                 InitDDE while the link is open
 *     VQ-INIT-AFTER-KILL            (Advice, a warning) InitDDE after KillDDE in
 *                                   the same load of the library
 *     VQ-NAME-CHANGED               a plug-in name other than InitDDE's
 *   KillDDE
 *     VQ-CALL-AFTER-KILL            a call after KillDDE (InitDDE aside)
 *   The other rules are kept or broken inside the plug-in, where a library
 *   sees nothing: loading by full path, the names and the convention of the
 *   lookup, converting to CP_ACP, copying callback strings, comparing
 *   statuses byte by byte, reading negative lengths as 0 and assuming no
 *   bound on lengths (the stand-in's hostile profiles put a plug-in to these
 *   tests), and unloading from inside a callback (the library's code is gone
 *   before it could report).
 */
#ifndef VELLQUIB_H
#define VELLQUIB_H

#include <stdint.h>

#if defined(_WIN32)
#define VELLQUIB_CALL __stdcall
#else
#define VELLQUIB_CALL
#endif

/* The statuses that have a reaction of their own (see STATUSES above). */
#define VELLQUIB_STATUS_REFUSED "-1"
#define VELLQUIB_STATUS_OK "0"
#define VELLQUIB_STATUS_BUSY "6"
#define VELLQUIB_STATUS_NOT_REGISTERED "10"

/* Every status text a host reports, in order, as a list macro: X(text) for
 * each. For example, const char* all[] = {VELLQUIB_STATUS_TEXTS(ITEM)} with
 * #define ITEM(s) s, */
/* clang-format off */
#define VELLQUIB_STATUS_TEXTS(X)                                                 \
    X(VELLQUIB_STATUS_REFUSED) X(VELLQUIB_STATUS_OK)                             \
    X("1") X("2") X("3") X("4") X("5") X(VELLQUIB_STATUS_BUSY) X("7") X("8")     \
    X("9") X(VELLQUIB_STATUS_NOT_REGISTERED) X("11") X("12") X("13") X("14")     \
    X("15") X("16") X("17")
/* clang-format on */

/* The version of this interface: raised when an export, a callback or a rule
 * of this file changes in a way that a plug-in or a host must follow. */
#define VELLQUIB_VERSION 1

/* QuibCommunicate's modes. */
#define VELLQUIB_MODE_SPEAK 0
#define VELLQUIB_MODE_THINK 1
#define VELLQUIB_MODE_ESP 2 /* a private message to the avatar named */

#ifdef __cplusplus
extern "C" {
#endif

/* --- Callbacks (the plug-in's functions, handed over by InitDDE) ---------- */

/* The status of a request: called once inside every request, before the
 * request returns (see STATUSES). status holds length bytes. */
typedef void(VELLQUIB_CALL* QuibStatusCallback)(const char* status, int32_t length);

/* A line that appeared in the world: who said it, what kind of line it is,
 * and what was said. The meaning of kind belongs to the host. Comes inside
 * the request that caused the line (before its status), or while the owning
 * thread dispatches messages.
 * Stand-in: its kinds are listed in vellquib/README.md. */
typedef void(VELLQUIB_CALL* QuibMessageCallback)(const char* speaker, int32_t speakerLength,
                                                 int16_t kind, const char* said,
                                                 int32_t saidLength);

/* The host client's whole text buffer, asked for by QuibGetAllText: lines,
 * each ended by CR LF, then four characters and a NUL, all counted in length.
 * The text proper ends before the four characters that precede the first NUL;
 * trailing CR LF pairs are not part of it. A host always sends the frame, so
 * the first NUL comes after at least four bytes (after exactly four in the
 * frame of no lines). Comes once for each QuibGetAllText answered "0":
 * inside that call or later, while the owning thread dispatches messages; a
 * plug-in waits for it with a message loop and a time-out.
 * Advice: read a buffer whose first NUL is among its first five bytes as
 * holding no text (the frame of no lines, or a broken frame).
 * QuibDemo: keeps such a buffer whole as its text, as its description
 * requires.
 * Stand-in: delivers always later; the four characters are the line count. */
typedef void(VELLQUIB_CALL* QuibTextCallback)(const char* buffer, int32_t length);

/* --- Exports -------------------------------------------------------------- */

/* InitDDE(pluginName, onStatus, onMessage, onText) -> int16_t
 * Opens the link to the host client. pluginName is the plug-in's identity;
 * pass the same name to every export that takes one, as the host registers
 * and answers by name. The three callbacks receive everything the host
 * sends. Call it before any other export, on the thread that will own the
 * link. Returns 0 when the link is open; then callbacks may come until
 * KillDDE returns. Any other value: no link, no callback will come, and
 * KillDDE is not needed. A host opens one link at a time; whether it opens
 * another after KillDDE without the library being loaded afresh is not
 * promised.
 * Advice: call InitDDE once per load of the library; to start afresh,
 * unload the library and load it again.
 * QuibDemo: passes its executable's name without extension; InitDDE once
 * when its window loads, KillDDE once when it unloads.
 * Stand-in: the results of every export are listed in vellquib/README.md. */

/* KillDDE() -> int32_t
 * Closes the link: after it returns no callback comes, and a text delivery
 * that has not come yet never will. Call it once, from the owning thread,
 * before unloading the library. May be called from inside a callback that is
 * dispatched from the message loop. */

/* QuibRegister(pluginName) -> int32_t
 * Registers the plug-in under pluginName with the host client; requests of a
 * plug-in that is not registered are answered "10". Reports no status. */

/* QuibUnregister(pluginName) -> int32_t
 * Unregisters the plug-in. Reports no status. */

/* QuibCommunicate(pluginName, mode, avatar, message) -> int32_t
 * Sends a line into the world. mode is one of VELLQUIB_MODE_SPEAK,
 * VELLQUIB_MODE_THINK and VELLQUIB_MODE_ESP (a private message to the avatar
 * named in avatar; the other modes ignore avatar). avatar and message are
 * writable NUL-terminated buffers (see STRINGS). Reports one status; repeat
 * as STATUSES says. */

/* QuibGetAllText(pluginName) -> int32_t
 * Asks for the host client's whole text buffer, delivered through the text
 * callback (see QuibTextCallback). Reports one status; only a request answered
 * "0" is followed by a delivery. */

/* IsVellThere() -> int32_t
 * Whether the host client is there. Declared by the interface; a plug-in
 * need not call it, and a host library may lack it. QuibDemo never calls it. */

/* QuibSend(pluginName, command) -> int32_t
 * Sends a command to the host client; reports one status like a request.
 * Declared by the interface; a plug-in need not call it, and a host library
 * may lack it. QuibDemo never calls it. */

/* Every export, in this order, as a list macro:
 *   X(result type, name, (parameters), needed)
 * where needed is 1 for the six exports every plug-in calls (a host library
 * without one of them cannot be used) and 0 for the two it may do without.
 * Each export is declared below as a function and as a pointer type, name
 * followed by Proc, for GetProcAddress. */
/* clang-format off */
#define VELLQUIB_EXPORTS(X)                                                     \
    X(int16_t, InitDDE,                                                         \
      (const char* pluginName, QuibStatusCallback onStatus,                     \
       QuibMessageCallback onMessage, QuibTextCallback onText), 1)              \
    X(int32_t, KillDDE, (void), 1)                                              \
    X(int32_t, QuibRegister, (const char* pluginName), 1)                       \
    X(int32_t, QuibUnregister, (const char* pluginName), 1)                     \
    X(int32_t, QuibCommunicate,                                                 \
      (const char* pluginName, int16_t mode, char* avatar, char* message), 1)   \
    X(int32_t, QuibGetAllText, (const char* pluginName), 1)                     \
    X(int32_t, IsVellThere, (void), 0)                                          \
    X(int32_t, QuibSend, (const char* pluginName, const char* command), 0)

#define VELLQUIB_DECLARE_EXPORT_(type, name, parameters, needed)               \
    type VELLQUIB_CALL name parameters;                                         \
    typedef type(VELLQUIB_CALL* name##Proc) parameters;
VELLQUIB_EXPORTS(VELLQUIB_DECLARE_EXPORT_)
#undef VELLQUIB_DECLARE_EXPORT_
/* clang-format on */

#ifdef __cplusplus
}
#endif

#endif /* VELLQUIB_H */
