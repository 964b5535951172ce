#include "plugin_link.h"

#include <atomic>
#include <optional>
#include <string>
#include <utility>

#include "call_log.h"
#include "checker.h"
#include "process_log.h"
#include "script.h"

namespace quib::standin {

namespace {

constexpr wchar_t kWindowClass[] = L"VellQuibStandIn.Link";
constexpr UINT kRunMessage = WM_APP + 1;  // wParam: the id of scheduled work

// The thread that has claimed the link, 0 when none has. Written by the
// owner only (claiming from 0, giving back to 0); read by every call, from
// any thread, before it touches anything else of the link.
std::atomic<DWORD> gOwner{0};

// The link that is open, and a number that changes with every link, so that
// code running after a callback can tell whether its link is still open
// without touching the link. Both are touched on the owning thread only.
PluginLink* gOpen = nullptr;
unsigned gGeneration = 0;

HMODULE ThisLibrary(DWORD flags) {
    HMODULE module = nullptr;
    GetModuleHandleExW(GET_MODULE_HANDLE_EX_FLAG_FROM_ADDRESS | flags,
                       reinterpret_cast<LPCWSTR>(&gOwner), &module);
    return module;
}

// VELLQUIB_HOSTILE: what the link adds to every callback of its kind.
PluginLink::Hostile HostileFromEnvironment() {
    const std::optional<std::string> value = EnvironmentValue("VELLQUIB_HOSTILE");
    if (value == "null") {
        return PluginLink::Hostile::Null;
    }
    if (value == "negative") {
        return PluginLink::Hostile::Negative;
    }
    if (value == "huge") {
        return PluginLink::Hostile::Huge;
    }
    if (value == "stuck") {
        return PluginLink::Hostile::Stuck;
    }
    return PluginLink::Hostile::None;
}

// A text delivery grown to 16 MiB by lines of an avatar's before it, the
// frame kept.
std::string HugeText(std::string_view buffer) {
    constexpr size_t kHuge = size_t{16} << 20;
    const std::string line = "Quill: " + std::string(1015, 'q') + "\r\n";  // 1 KiB
    std::string out;
    out.reserve(kHuge + buffer.size());
    while (out.size() + line.size() <= kHuge) {
        out += line;
    }
    out.append(buffer);
    return out;
}

}  // namespace

std::unique_ptr<PluginLink> PluginLink::Claim() {
    DWORD none = 0;
    if (!gOwner.compare_exchange_strong(none, GetCurrentThreadId())) {
        return nullptr;
    }
    std::unique_ptr<PluginLink> link(new PluginLink());
    link->generation_ = ++gGeneration;
    return link;
}

bool PluginLink::Claimed() {
    return gOwner.load() != 0;
}

bool PluginLink::CallerOwnsLink() {
    return gOwner.load() == GetCurrentThreadId();
}

bool PluginLink::Open(QuibStatusCallback onStatus, QuibMessageCallback onMessage,
                      QuibTextCallback onText) {
    const HINSTANCE instance = ThisLibrary(GET_MODULE_HANDLE_EX_FLAG_UNCHANGED_REFCOUNT);
    WNDCLASSEXW wc = {};
    wc.cbSize = sizeof wc;
    wc.lpfnWndProc = &WindowProc;
    wc.hInstance = instance;
    wc.lpszClassName = kWindowClass;
    if (!RegisterClassExW(&wc) && GetLastError() != ERROR_CLASS_ALREADY_EXISTS) {
        return false;
    }
    window_ = CreateWindowExW(0, kWindowClass, L"", 0, 0, 0, 0, 0, HWND_MESSAGE, nullptr, instance,
                              nullptr);
    if (!window_) {
        UnregisterClassW(kWindowClass, instance);
        return false;
    }
    onStatus_ = onStatus;
    onMessage_ = onMessage;
    onText_ = onText;
    hostile_ = HostileFromEnvironment();
    openedAt_ = GetTickCount();
    library_ = ThisLibrary(0);
    gOpen = this;
    return true;
}

PluginLink::~PluginLink() {
    if (window_) {
        for (const auto& entry : scheduled_) {
            KillTimer(window_, entry.first);
        }
        DestroyWindow(window_);
        UnregisterClassW(kWindowClass, ThisLibrary(GET_MODULE_HANDLE_EX_FLAG_UNCHANGED_REFCOUNT));
    }
    if (gOpen == this) {
        gOpen = nullptr;
    }
    ++gGeneration;
    gOwner.store(0);
    // The plug-in that calls KillDDE holds a reference of its own, so this
    // one is never the last while the library's code is running.
    if (library_) {
        FreeLibrary(library_);
    }
}

bool PluginLink::Stuck() const {
    constexpr DWORD kStuckMs = 3000;
    return hostile_ == Hostile::Stuck && GetTickCount() - openedAt_ < kStuckMs;
}

bool PluginLink::StillOpen(unsigned generation) {
    return gOpen != nullptr && gGeneration == generation;
}

bool PluginLink::Status(std::string_view status) {
    check::StatusSeen(status);
    if (!onStatus_) {
        return true;
    }
    if (LogIsOpen()) {
        LogCallback(Invocation("StatusCallback", {Quoted(status)}));
    }
    const unsigned generation = generation_;
    const check::CallbackScope checked("StatusCallback");
    onStatus_(Bytes(status), static_cast<int32_t>(status.size()));
    return StillOpen(generation);
}

bool PluginLink::Message(std::string_view speaker, int16_t number, std::string_view said) {
    if (!onMessage_) {
        return true;
    }
    if (LogIsOpen()) {
        LogCallback(
            Invocation("MessageCallback", {Quoted(speaker), std::to_string(number), Quoted(said)}));
    }
    const unsigned generation = generation_;
    {
        const check::CallbackScope checked("MessageCallback");
        onMessage_(Bytes(speaker), static_cast<int32_t>(speaker.size()), number, Bytes(said),
                   static_cast<int32_t>(said.size()));
    }
    if (!StillOpen(generation) || (hostile_ != Hostile::Null && hostile_ != Hostile::Negative)) {
        return StillOpen(generation);
    }
    // The hostile profiles add a line whose strings are empty as null
    // pointers, or whose lengths are negative.
    const bool negative = hostile_ == Hostile::Negative;
    if (LogIsOpen()) {
        LogCallback(
            Invocation("MessageCallback", {negative ? "length -1" : "null", std::to_string(number),
                                           negative ? "length -7" : "null"}));
    }
    const check::CallbackScope checked("MessageCallback");
    onMessage_(negative ? "x" : nullptr, negative ? -1 : 0, number, negative ? "said" : nullptr,
               negative ? -7 : 0);
    return StillOpen(generation);
}

bool PluginLink::Text(std::string_view buffer) {
    if (!onText_) {
        return true;
    }
    std::string huge;
    if (hostile_ == Hostile::Huge) {
        huge = HugeText(buffer);
        buffer = huge;
    }
    if (LogIsOpen()) {
        LogCallback(Invocation("TextCallback", {Quoted(buffer), std::to_string(buffer.size())}));
    }
    const unsigned generation = generation_;
    const check::CallbackScope checked("TextCallback");
    onText_(Bytes(buffer), static_cast<int32_t>(buffer.size()));
    return StillOpen(generation);
}

UINT_PTR PluginLink::Add(std::function<void()> work, bool repeats) {
    const UINT_PTR id = nextId_++;
    scheduled_.emplace(id, Scheduled{std::move(work), repeats});
    return id;
}

void PluginLink::Schedule(int delayMs, std::function<void()> work, bool textDelivery) {
    const UINT_PTR id = Add(std::move(work), false);
    if (textDelivery) {
        check::DeliveryScheduled(id, delayMs);
    }
    const bool queued = delayMs <= 0 ? PostMessageW(window_, kRunMessage, id, 0) != 0
                                     : SetTimer(window_, id, static_cast<UINT>(delayMs), nullptr);
    if (!queued) {
        // A full message queue: try again with the shortest timer.
        SetTimer(window_, id, USER_TIMER_MINIMUM, nullptr);
    }
}

void PluginLink::Every(int periodMs, std::function<void()> work) {
    SetTimer(window_, Add(std::move(work), true), static_cast<UINT>(periodMs), nullptr);
}

void PluginLink::RunDue(UINT_PTR id) {
    const auto it = scheduled_.find(id);
    if (it == scheduled_.end()) {
        KillTimer(window_, id);
        return;
    }
    // The work runs from a copy of its own: it may close the link, and the
    // link with its table of work is gone when it returns.
    std::function<void()> work;
    if (it->second.repeats) {
        work = it->second.work;
    } else {
        KillTimer(window_, id);
        work = std::move(it->second.work);
        scheduled_.erase(it);
        check::WorkRan(id);
    }
    work();
}

LRESULT CALLBACK PluginLink::WindowProc(HWND hwnd, UINT msg, WPARAM wParam, LPARAM lParam) {
    if (msg == WM_TIMER || msg == kRunMessage) {
        try {
            if (gOpen && gOpen->window_ == hwnd && CallerOwnsLink()) {
                gOpen->RunDue(static_cast<UINT_PTR>(wParam));
            }
        } catch (...) {
            // Out of memory inside the work: this event is lost, the
            // plug-in's message loop goes on.
        }
        return 0;
    }
    return DefWindowProcW(hwnd, msg, wParam, lParam);
}

}  // namespace quib::standin
