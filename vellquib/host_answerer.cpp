#include "host_answerer.h"

#include <utility>

#include "checker.h"
#include "process_log.h"

namespace quib::standin {

namespace {

constexpr wchar_t kWireClass[] = L"VellQuibStandIn.Wire";

HINSTANCE ThisLibrary() {
    HMODULE module = nullptr;
    GetModuleHandleExW(
        GET_MODULE_HANDLE_EX_FLAG_FROM_ADDRESS | GET_MODULE_HANDLE_EX_FLAG_UNCHANGED_REFCOUNT,
        reinterpret_cast<LPCWSTR>(&ThisLibrary), &module);
    return module;
}

}  // namespace

HostChoice ChosenHost() {
    const std::optional<std::string> v = EnvironmentValue("VELLQUIB_HOST");
    if (v && *v == "none") {
        return HostChoice::Never;
    }
    if (v && *v == "required") {
        return HostChoice::Required;
    }
    return HostChoice::WhenRunning;
}

std::unique_ptr<Answerer> JoinRunningHost(PluginLink& link, const std::string& plugin,
                                          const Config& config) {
    const HWND host = FindWindowW(wire::kHostWindowClass, nullptr);
    if (!host) {
        return nullptr;
    }
    auto answerer = std::make_unique<HostAnswerer>(link, host);
    if (!answerer->Join(plugin, config.userName)) {
        return nullptr;
    }
    return answerer;
}

HostAnswerer::HostAnswerer(PluginLink& link, HWND host) : Answerer(link), host_(host) {}

HostAnswerer::~HostAnswerer() {
    if (wire_ && !gone_) {
        PostMessageW(host_, wire::kLeaveMessage, reinterpret_cast<WPARAM>(wire_.get()), 0);
    }
}

bool HostAnswerer::Join(const std::string& plugin, const std::string& user) {
    const HINSTANCE instance = ThisLibrary();
    WNDCLASSEXW wc = {};
    wc.cbSize = sizeof wc;
    wc.lpfnWndProc = &HostAnswerer::WireProc;
    wc.hInstance = instance;
    wc.lpszClassName = kWireClass;
    RegisterClassExW(&wc);  // fails harmlessly when registered already
    wire_.reset(CreateWindowExW(0, kWireClass, L"", 0, 0, 0, 0, 0, HWND_MESSAGE, nullptr, instance,
                                nullptr));
    if (!wire_) {
        return false;
    }
    SetWindowLongPtrW(wire_.get(), GWLP_USERDATA, reinterpret_cast<LONG_PTR>(this));
    // Named after this process and window, so that no other link has it.
    const std::string areaName = "Local\\VellQuibWire." + std::to_string(GetCurrentProcessId()) +
                                 "." + std::to_string(reinterpret_cast<uintptr_t>(wire_.get()));
    area_.reset(CreateFileMappingA(INVALID_HANDLE_VALUE, nullptr, PAGE_READWRITE, 0,
                                   static_cast<DWORD>(wire::kReplyAreaBytes), areaName.c_str()));
    if (area_) {
        areaView_.reset(static_cast<char*>(
            MapViewOfFile(area_.get(), FILE_MAP_READ, 0, 0, wire::kReplyAreaBytes)));
    }
    const std::optional<wire::Reply> r =
        Exchange(wire::Op::Join, wire::Encode({plugin, user, areaView_ ? areaName : ""}));
    if (!r || r->result != 0) {
        return false;
    }
    LogNote("link open; joined the host vellhost.exe as " + r->user);
    return true;
}

void HostAnswerer::Opened() {
    // Whatever the host queued while the link was being opened comes from
    // the message loop.
    PostMessageW(wire_.get(), wire::kWakeMessage, 0, 0);
}

std::optional<wire::Reply> HostAnswerer::Exchange(wire::Op op, const std::string& payload) {
    if (gone_) {
        return std::nullopt;
    }
    COPYDATASTRUCT data = {};
    data.dwData = static_cast<ULONG_PTR>(op);
    data.cbData = static_cast<DWORD>(payload.size());
    data.lpData = const_cast<char*>(payload.data());
    reply_.reset();
    DWORD_PTR taken = 0;
    // The host answers with a message of its own sent to the wire window
    // before this returns; a thread that waits here takes sent messages.
    const LRESULT sent = SendMessageTimeoutW(
        host_, WM_COPYDATA, reinterpret_cast<WPARAM>(wire_.get()), reinterpret_cast<LPARAM>(&data),
        SMTO_ABORTIFHUNG, wire::kBoundMs, &taken);
    std::optional<wire::Reply> reply;
    if (sent && taken == 1 && reply_) {
        reply = wire::DecodeReply(*reply_);
    } else if (sent && taken >= 2 && areaView_ && taken - 2 <= wire::kReplyAreaBytes) {
        reply = wire::DecodeReply(std::string_view(areaView_.get(), taken - 2));
    }
    reply_.reset();
    if (!reply) {
        gone_ = true;
        LogNote("the host vellhost.exe is gone or does not answer; requests report no status");
    }
    return reply;
}

int32_t HostAnswerer::Answer(const Call& call) {
    wire::Request q;
    q.what = call.what;
    q.plugin = call.plugin ? call.plugin : "";
    q.mode = call.mode;
    q.avatar = call.avatar ? call.avatar : "";
    q.message = call.message ? call.message : "";
    q.command = call.command ? call.command : "";
    std::optional<wire::Reply> r = Exchange(wire::Op::Call, wire::Encode(q));
    if (!r) {
        return -1;
    }
    if (!r->status) {
        // Registration: its notices come inside the call, no status.
        Deliver(r->events);
        return r->result;
    }
    inCall_ = std::move(r->events);
    if (r->textDueMs >= 0) {
        // Waits at the host until the plug-in dispatches its messages.
        check::DeliveryScheduled(reinterpret_cast<uintptr_t>(this), r->textDueMs);
    }
    return Report(*r->status);
}

bool HostAnswerer::Deliver(const std::vector<wire::Event>& events) {
    for (const wire::Event& e : events) {
        const bool text = e.kind == wire::Event::Kind::Text;
        if (text) {
            check::WorkRan(reinterpret_cast<uintptr_t>(this));
        }
        const bool open = text ? link_.Text(e.bytes) : link_.Message(e.speaker, e.number, e.bytes);
        if (!open) {
            return false;
        }
    }
    return true;
}

void HostAnswerer::Drain() {
    const std::optional<wire::Reply> r = Exchange(wire::Op::Drain, {});
    if (r) {
        Deliver(r->events);  // on false the link, and this, are gone
    }
}

LRESULT CALLBACK HostAnswerer::WireProc(HWND hwnd, UINT msg, WPARAM wParam, LPARAM lParam) {
    auto* self = reinterpret_cast<HostAnswerer*>(GetWindowLongPtrW(hwnd, GWLP_USERDATA));
    if (self && msg == WM_COPYDATA && reinterpret_cast<HWND>(wParam) == self->host_) {
        const auto* data = reinterpret_cast<const COPYDATASTRUCT*>(lParam);
        if (data->dwData != static_cast<ULONG_PTR>(wire::Op::Reply)) {
            return FALSE;
        }
        self->reply_.emplace(static_cast<const char*>(data->lpData), data->cbData);
        return TRUE;
    }
    if (self && msg == wire::kWakeMessage) {
        self->Drain();
        return 0;
    }
    return DefWindowProcW(hwnd, msg, wParam, lParam);
}

}  // namespace quib::standin
