#include "handover.h"

#include "entry.h"
#include "format.h"
#include "jvm.h"
#include "launch_log.h"
#include "machine_text.h"
#include "private_folder.h"
#include "report.h"
#include "settings.h"
#include "splash.h"

#include <aclapi.h>
#include <sddl.h>
#include <stdlib.h>
#include <string.h>

// A request on the pipe: its length in bytes (a DWORD), then the arguments as UTF-16, each ending in
// a NUL. The answer is one byte, HANDOVER_TAKEN, once the request is queued.
#define HANDOVER_TAKEN 'K'
// How long the running instance waits for the rest of a request that has begun, in milliseconds.
#define HANDOVER_READ_MS 2000

// One request waiting for delivery: the arguments as they came, Length characters with their NULs.
struct ForwardedCall {
    ForwardedCall* Next;
    DWORD Length;
    WCHAR Text[1];
};

// The first instance's pipe; created by StartHandoverServer, served by its thread for the process's life.
static HANDLE HandoverPipe = INVALID_HANDLE_VALUE;
// The requests not delivered yet, oldest first, guarded by ForwardLock; ForwardQueued is set on each.
static ForwardedCall* ForwardHead = NULL;
static ForwardedCall* ForwardTail = NULL;
static SRWLOCK ForwardLock = SRWLOCK_INIT;
static HANDLE ForwardQueued = NULL;
// Set by ReleaseForwardedCalls just before main: no call reaches the program before main has begun.
static HANDLE MainCalled = NULL;
// Set once a failed delivery has been reported: a missing method fails every time, and is said once.
static LONG ForwardFailureReported = 0;

SecondStartMode ReadSecondStartMode()
{
    if (_stricmp(LauncherSettings.SecondInstance, "forward") == 0)
        return LauncherSettings.SecondInstanceMethod[0] != 0 ? SECOND_START_FORWARD : SECOND_START_ACTIVATE;
    if (_stricmp(LauncherSettings.SecondInstance, "activate") == 0)
        return SECOND_START_ACTIVATE;
    return SECOND_START_REFUSE;
}

// The pipe's name: the application's name and the Windows session, whose instances are apart.
static bool MakePipeName(char* name, size_t size, const char* applicationName)
{
    DWORD session = 0;
    ProcessIdToSessionId(GetCurrentProcessId(), &session);
    return FormatText(name, size, "\\\\.\\pipe\\%s-second-start-%lu", applicationName, session);
}

// The SID text of this process's logon session (its logon SID), or of its user when the token has
// none; false when neither can be read. The caller frees it with LocalFree.
static bool GetLogonSidText(char** text)
{
    HANDLE token = NULL;
    BYTE* groups = NULL;
    DWORD size = 0;
    bool found = false;
    *text = NULL;
    if (!OpenProcessToken(GetCurrentProcess(), TOKEN_QUERY, &token))
        return false;
    GetTokenInformation(token, TokenGroups, NULL, 0, &size);
    groups = size != 0 ? (BYTE*)malloc(size) : NULL;
    if (groups != NULL && GetTokenInformation(token, TokenGroups, groups, size, &size)) {
        TOKEN_GROUPS* list = (TOKEN_GROUPS*)groups;
        for (DWORD i = 0; i < list->GroupCount && !found; i++)
            if ((list->Groups[i].Attributes & SE_GROUP_LOGON_ID) == SE_GROUP_LOGON_ID)
                found = ConvertSidToStringSidA(list->Groups[i].Sid, text) != 0;
    }
    free(groups);
    CloseHandle(token);
    BYTE buffer[USER_SID_BUFFER_SIZE];
    PSID user = found ? NULL : GetUserSid(buffer, sizeof(buffer));
    return found || (user != NULL && ConvertSidToStringSidA(user, text));
}

// The pipe's security: owned by this user (whom a second start checks for), network clients denied, full
// access for this logon session alone (another user, or the same user logged on elsewhere, has another
// logon SID). False when it cannot be made.
static bool MakePipeSecurity(PSECURITY_DESCRIPTOR* descriptor)
{
    BYTE buffer[USER_SID_BUFFER_SIZE];
    PSID user = GetUserSid(buffer, sizeof(buffer));
    char *owner = NULL, *logon = NULL;
    char sddl[512]; // two SID texts are far shorter; ones that do not fit make no pipe
    bool made = user != NULL && ConvertSidToStringSidA(user, &owner) &&
                GetLogonSidText(&logon) &&
                FormatText(sddl, sizeof(sddl), "O:%sD:P(D;;GA;;;NU)(A;;GA;;;%s)", owner, logon) &&
                ConvertStringSecurityDescriptorToSecurityDescriptorA(sddl, SDDL_REVISION_1, descriptor, NULL);
    LocalFree(owner);
    LocalFree(logon);
    return made;
}

// True when this process's user owns the pipe: pipe names are machine-wide, and a pipe another user
// made first under the name never gets the arguments.
static bool IsOwnUsersPipe(HANDLE pipe)
{
    BYTE buffer[USER_SID_BUFFER_SIZE];
    PSID user = GetUserSid(buffer, sizeof(buffer)), owner = NULL;
    PSECURITY_DESCRIPTOR descriptor = NULL;
    bool own = GetSecurityInfo(pipe, SE_KERNEL_OBJECT, OWNER_SECURITY_INFORMATION, &owner, NULL, NULL, NULL,
                               &descriptor) == ERROR_SUCCESS &&
               user != NULL && EqualSid(owner, user);
    LocalFree(descriptor);
    return own;
}

// Reads or writes size bytes of an overlapped pipe handle by the deadline (a GetTickCount value);
// false when it failed or the time ran out (the operation is then cancelled).
static bool TransferByDeadline(HANDLE pipe, HANDLE event, void* data, DWORD size, bool writing, DWORD deadline)
{
    BYTE* at = (BYTE*)data;
    while (size > 0) {
        OVERLAPPED overlapped = {};
        overlapped.hEvent = event;
        DWORD done = 0;
        BOOL ok = writing ? WriteFile(pipe, at, size, NULL, &overlapped) : ReadFile(pipe, at, size, NULL, &overlapped);
        if (!ok && GetLastError() != ERROR_IO_PENDING)
            return false;
        LONG left = (LONG)(deadline - GetTickCount());
        if (WaitForSingleObject(event, left > 0 ? (DWORD)left : 0) != WAIT_OBJECT_0) {
            CancelIo(pipe);
            GetOverlappedResult(pipe, &overlapped, &done, TRUE);
            return false;
        }
        if (!GetOverlappedResult(pipe, &overlapped, &done, FALSE) || done == 0)
            return false;
        at += done;
        size -= done;
    }
    return true;
}

// EnumWindows callback: the first visible unowned window of this process other than the splash.
static BOOL CALLBACK FindOwnWindow(HWND window, LPARAM found)
{
    DWORD process = 0;
    GetWindowThreadProcessId(window, &process);
    if (process != GetCurrentProcessId() || window == SplashWindow || !IsWindowVisible(window) ||
        GetWindow(window, GW_OWNER) != NULL)
        return TRUE;
    *(HWND*)found = window;
    return FALSE;
}

// Brings the program's front window to the front, restored if minimised; the second start has granted
// this process the right to take the foreground. Nothing happens while the program has no window.
static void ActivateOwnWindow()
{
    HWND window = NULL;
    EnumWindows(FindOwnWindow, (LPARAM)&window);
    if (window == NULL)
        return;
    if (IsIconic(window))
        ShowWindow(window, SW_RESTORE);
    SetForegroundWindow(window);
}

// Queues a request's arguments for the delivery thread.
static void QueueForwardedCall(ForwardedCall* call)
{
    call->Next = NULL;
    AcquireSRWLockExclusive(&ForwardLock);
    if (ForwardTail != NULL)
        ForwardTail->Next = call;
    else
        ForwardHead = call;
    ForwardTail = call;
    ReleaseSRWLockExclusive(&ForwardLock);
    SetEvent(ForwardQueued);
}

// The oldest request not delivered yet, taken off the queue; null when none waits.
static ForwardedCall* TakeForwardedCall()
{
    AcquireSRWLockExclusive(&ForwardLock);
    ForwardedCall* call = ForwardHead;
    if (call != NULL) {
        ForwardHead = call->Next;
        if (ForwardHead == NULL)
            ForwardTail = NULL;
    }
    ReleaseSRWLockExclusive(&ForwardLock);
    return call;
}

// Takes one request from the connected client: reads it, activates, queues it (forward mode), answers.
static void TakeRequest(HANDLE event, SecondStartMode mode)
{
    DWORD deadline = GetTickCount() + HANDOVER_READ_MS, bytes = 0;
    if (!TransferByDeadline(HandoverPipe, event, &bytes, sizeof(bytes), false, deadline) ||
        bytes > HANDOVER_REQUEST_LIMIT || bytes % sizeof(WCHAR) != 0)
        return;
    ForwardedCall* call = (ForwardedCall*)malloc(sizeof(ForwardedCall) + bytes);
    if (call == NULL)
        return;
    call->Length = bytes / sizeof(WCHAR);
    // Only whole arguments are delivered: a text not ending in NUL is refused.
    if (!TransferByDeadline(HandoverPipe, event, call->Text, bytes, false, deadline) ||
        (call->Length > 0 && call->Text[call->Length - 1] != 0)) {
        free(call);
        return;
    }
    ActivateOwnWindow();
    if (mode == SECOND_START_FORWARD)
        QueueForwardedCall(call);
    else
        free(call);
    char taken = HANDOVER_TAKEN;
    // Disconnecting discards what the client has not read yet: the answer waits for the client to close.
    if (TransferByDeadline(HandoverPipe, event, &taken, 1, true, GetTickCount() + HANDOVER_READ_MS))
        TransferByDeadline(HandoverPipe, event, &taken, 1, false, GetTickCount() + HANDOVER_READ_MS);
}

// Waits for the next client; false when the pipe failed for good.
static bool AwaitClient(HANDLE event)
{
    OVERLAPPED overlapped = {};
    overlapped.hEvent = event;
    DWORD done = 0;
    if (ConnectNamedPipe(HandoverPipe, &overlapped))
        return true;
    DWORD error = GetLastError();
    if (error == ERROR_PIPE_CONNECTED || error == ERROR_NO_DATA)
        return true;
    return error == ERROR_IO_PENDING && GetOverlappedResult(HandoverPipe, &overlapped, &done, TRUE);
}

// The pipe's thread: takes one request after the other for the process's life.
static DWORD WINAPI ServeHandoverPipe(void* parameter)
{
    SecondStartMode mode = (SecondStartMode)(INT_PTR)parameter;
    HANDLE event = CreateEventA(NULL, TRUE, FALSE, NULL);
    while (event != NULL && AwaitClient(event)) {
        TakeRequest(event, mode);
        // The client has its answer (or took too long): the pipe is free for the next.
        DisconnectNamedPipe(HandoverPipe);
    }
    return 0;
}

// Says once that a forwarded call failed. Nothing is shown interactively: the running program's user
// did not ask for a box, and a second start's user has gone.
static void ReportForwardFailure(const char* format, const char* what)
{
    if (InterlockedExchange(&ForwardFailureReported, 1) != 0)
        return;
    char text[1024]; // a longer text is said cut
    if (!FormatText(text, sizeof(text), format, what))
        MarkTextCut(text, sizeof(text));
    LaunchLog("second start not delivered: %s", text);
    OutputDebugStringA(text);
}

// The String[] of a request's arguments; null when it cannot be made (the exception described).
static jobjectArray MakeForwardedArray(JNIEnv* env, const ForwardedCall* call)
{
    jsize count = 0;
    for (DWORD i = 0; i < call->Length; i++)
        count += call->Text[i] == 0;
    jclass stringClass = env->FindClass("java/lang/String");
    jobjectArray array = CheckJavaException(env) ? NULL : env->NewObjectArray(count, stringClass, NULL);
    const WCHAR* argument = call->Text;
    for (jsize i = 0; array != NULL && i < count; i++, argument += wcslen(argument) + 1) {
        jstring text = NewJavaString(env, argument);
        if (CheckJavaException(env) || text == NULL)
            return NULL;
        env->SetObjectArrayElement(array, i, text);
        if (CheckJavaException(env))
            return NULL;
    }
    return array;
}

// Calls SecondInstanceMethod with a request's arguments on an attached thread; a failure is reported once.
static void DeliverForwardedCall(const ForwardedCall* call)
{
    char className[1024]; // a longer name is no method of the program: reported as not found
    const char* method = strrchr(LauncherSettings.SecondInstanceMethod, '.');
    if (method == NULL || !FormatText(className, sizeof(className), "%.*s",
                                      (int)(method - LauncherSettings.SecondInstanceMethod),
                                      LauncherSettings.SecondInstanceMethod))
        return ReportForwardFailure(LauncherSettings.MsgLocateMethod, LauncherSettings.SecondInstanceMethod);
    for (char* dot = strchr(className, '.'); dot != NULL; dot = strchr(dot, '.'))
        *dot = '/';
    JNIEnv* env = NULL;
    JavaVM* vm = NULL;
    if (!AttachLauncherThread("Kestrun second-start thread", &env, &vm))
        return;
    jclass owner = env->FindClass(className);
    jmethodID target = CheckJavaException(env) || owner == NULL
                           ? NULL : env->GetStaticMethodID(owner, method + 1, "([Ljava/lang/String;)V");
    jobjectArray arguments = CheckJavaException(env) || target == NULL ? NULL : MakeForwardedArray(env, call);
    if (target == NULL)
        ReportForwardFailure(LauncherSettings.MsgLocateMethod, LauncherSettings.SecondInstanceMethod);
    if (arguments != NULL) {
        env->CallStaticVoidMethod(owner, target, arguments);
        if (CheckJavaException(env))
            ReportForwardFailure(LauncherSettings.MsgInvokeMethod, LauncherSettings.SecondInstanceMethod);
    }
    vm->DetachCurrentThread();
}

// The delivery thread: once main has begun, calls the method for each request, in the order taken.
static DWORD WINAPI DeliverForwardedCalls(void*)
{
    WaitForSingleObject(MainCalled, INFINITE);
    for (;;) {
        WaitForSingleObject(ForwardQueued, INFINITE);
        for (ForwardedCall* call; (call = TakeForwardedCall()) != NULL; free(call))
            DeliverForwardedCall(call);
    }
}

bool StartHandoverServer(const char* applicationName, SecondStartMode mode)
{
    char name[MAX_PATH]; // a name that does not fit makes no pipe
    PSECURITY_DESCRIPTOR descriptor = NULL;
    if (!MakePipeName(name, sizeof(name), applicationName) || !MakePipeSecurity(&descriptor))
        return false;
    SECURITY_ATTRIBUTES security = {sizeof(security), descriptor, FALSE};
    // One instance: requests are taken one after the other, in the order their clients connected.
    HandoverPipe = CreateNamedPipeA(name, PIPE_ACCESS_DUPLEX | FILE_FLAG_OVERLAPPED | FILE_FLAG_FIRST_PIPE_INSTANCE,
                                    PIPE_TYPE_BYTE | PIPE_READMODE_BYTE | PIPE_WAIT | PIPE_REJECT_REMOTE_CLIENTS,
                                    1, 4096, 4096, 0, &security);
    LocalFree(descriptor);
    if (HandoverPipe == INVALID_HANDLE_VALUE)
        return false;
    ForwardQueued = CreateEventA(NULL, FALSE, FALSE, NULL);
    MainCalled = CreateEventA(NULL, TRUE, FALSE, NULL);
    HANDLE server = CreateThread(NULL, 0, ServeHandoverPipe, (void*)(INT_PTR)mode, 0, NULL);
    HANDLE delivery = mode == SECOND_START_FORWARD ? CreateThread(NULL, 0, DeliverForwardedCalls, NULL, 0, NULL) : NULL;
    if (server != NULL)
        CloseHandle(server);
    if (delivery != NULL)
        CloseHandle(delivery);
    return server != NULL;
}

void ReleaseForwardedCalls()
{
    if (MainCalled != NULL)
        SetEvent(MainCalled);
}

// A heap copy of the argument, made absolute against the start directory when it names an existing file
// or folder relative to it; null when memory ran out.
static WCHAR* ResolveArgument(const WCHAR* argument)
{
    bool absolute = IsAbsolutePathW(argument);
    size_t directory = wcslen(StartDirectory), length = wcslen(argument);
    // A drive's root ends in its backslash already.
    if (directory > 0 && StartDirectory[directory - 1] == '\\')
        directory--;
    WCHAR joined[MAX_PATH], full[MAX_PATH];
    // A name that does not fit beside the start directory is passed on as given.
    DWORD fullLength = 0;
    if (!absolute && length > 0 && directory + 1 + length < MAX_PATH) {
        memcpy(joined, StartDirectory, directory * sizeof(WCHAR));
        joined[directory] = '\\';
        memcpy(joined + directory + 1, argument, (length + 1) * sizeof(WCHAR));
        fullLength = GetFullPathNameW(joined, MAX_PATH, full, NULL);
    }
    bool resolved = fullLength > 0 && fullLength < MAX_PATH && GetFileAttributesW(full) != INVALID_FILE_ATTRIBUTES;
    return _wcsdup(resolved ? full : argument);
}

// The request of a second start: its length, then its arguments resolved; null when memory ran out
// or it is larger than a running instance takes. *bytes is the whole request's size.
static BYTE* MakeRequest(int argc, WCHAR** argv, DWORD* bytes)
{
    WCHAR** resolved = (WCHAR**)calloc((size_t)argc, sizeof(WCHAR*));
    size_t characters = 0;
    bool ok = resolved != NULL;
    for (int i = 1; ok && i < argc; i++) {
        ok = (resolved[i] = ResolveArgument(argv[i])) != NULL;
        characters += ok ? wcslen(resolved[i]) + 1 : 0;
    }
    DWORD payload = (DWORD)(characters * sizeof(WCHAR));
    BYTE* request = ok && payload <= HANDOVER_REQUEST_LIMIT ? (BYTE*)malloc(sizeof(DWORD) + payload) : NULL;
    if (request != NULL) {
        memcpy(request, &payload, sizeof(DWORD));
        BYTE* at = request + sizeof(DWORD);
        for (int i = 1; i < argc; at += (wcslen(resolved[i]) + 1) * sizeof(WCHAR), i++)
            memcpy(at, resolved[i], (wcslen(resolved[i]) + 1) * sizeof(WCHAR));
        *bytes = sizeof(DWORD) + payload;
    }
    for (int i = 1; resolved != NULL && i < argc; i++)
        free(resolved[i]);
    free(resolved);
    return request;
}

// Opens the running instance's pipe by the deadline; INVALID_HANDLE_VALUE when there is none (last
// error ERROR_FILE_NOT_FOUND) or it stayed busy.
static HANDLE OpenHandoverPipe(const char* name, DWORD deadline)
{
    for (;;) {
        // Identification only: the running instance may learn who asks, never act as this process.
        HANDLE pipe = CreateFileA(name, GENERIC_READ | GENERIC_WRITE, 0, NULL, OPEN_EXISTING,
                                  FILE_FLAG_OVERLAPPED | SECURITY_SQOS_PRESENT | SECURITY_IDENTIFICATION, NULL);
        DWORD error = GetLastError();
        LONG left = (LONG)(deadline - GetTickCount());
        if (pipe != INVALID_HANDLE_VALUE || error != ERROR_PIPE_BUSY || left <= 0) {
            SetLastError(error);
            return pipe;
        }
        WaitNamedPipeA(name, (DWORD)left);
    }
}

int HandOverToFirstInstance(const char* applicationName, int argc, WCHAR** argv, DWORD deadline)
{
    char name[MAX_PATH]; // a name that does not fit has no pipe: the wait ends with the report
    if (!MakePipeName(name, sizeof(name), applicationName))
        return 0;
    HANDLE pipe = OpenHandoverPipe(name, deadline);
    if (pipe == INVALID_HANDLE_VALUE && GetLastError() == ERROR_FILE_NOT_FOUND)
        return 0;
    DWORD bytes = 0;
    BYTE* request = pipe != INVALID_HANDLE_VALUE && IsOwnUsersPipe(pipe) ? MakeRequest(argc, argv, &bytes) : NULL;
    HANDLE event = CreateEventA(NULL, TRUE, FALSE, NULL);
    ULONG server = 0;
    // The running instance may take the foreground: this start lets it, being the one the user started.
    if (request != NULL && GetNamedPipeServerProcessId(pipe, &server))
        AllowSetForegroundWindow(server);
    char answer = 0;
    bool taken = request != NULL && event != NULL &&
                 TransferByDeadline(pipe, event, request, bytes, true, deadline) &&
                 TransferByDeadline(pipe, event, &answer, 1, false, deadline) && answer == HANDOVER_TAKEN;
    free(request);
    if (event != NULL)
        CloseHandle(event);
    if (pipe != INVALID_HANDLE_VALUE)
        CloseHandle(pipe);
    if (!taken)
        ShowError(LauncherSettings.MsgInstanceNotAnswering);
    return taken ? 1 : -1;
}
