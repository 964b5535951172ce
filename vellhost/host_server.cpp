#include "host_server.h"

#include <cstring>
#include <utility>

#include "call_log.h"
#include "process_log.h"
#include "script.h"

namespace quib::vellhost {

namespace {

namespace wire = standin::wire;

constexpr UINT_PTR kChatterTimer = 1;
constexpr UINT kSettingsMessage = WM_APP + 1;  // chatter restarts
constexpr UINT_PTR kSweepTimer = 2;
constexpr UINT kSweepMs = 1000;

HWND AsWindow(MemberId id) {
    return reinterpret_cast<HWND>(static_cast<uintptr_t>(id));
}

MemberId AsMember(HWND w) {
    return static_cast<MemberId>(reinterpret_cast<uintptr_t>(w));
}

std::string MessageInvocation(const standin::ChatLine& l) {
    return standin::Invocation(
        "MessageCallback", {standin::Quoted(l.speaker), std::to_string(static_cast<int>(l.kind)),
                            standin::Quoted(l.text)});
}

wire::Event MessageEvent(const standin::ChatLine& l) {
    return {wire::Event::Kind::Message, l.speaker, static_cast<int16_t>(l.kind), l.text};
}

}  // namespace

HostServer::HostServer(HostWorld& world, std::function<void(const std::string&)> log,
                       std::function<void()> changed)
    : world_(world), log_(std::move(log)), changed_(std::move(changed)) {}

HostServer::~HostServer() {
    // The thread ends before the areas are closed (with the members).
    if (thread_.joinable()) {
        PostThreadMessageW(threadId_, WM_QUIT, 0, 0);
        thread_.join();
    }
}

bool HostServer::Open() {
    if (FindWindowW(wire::kHostWindowClass, nullptr)) {
        return false;
    }
    std::promise<bool> opened;
    std::future<bool> result = opened.get_future();
    thread_ = std::thread([this, &opened] { Run(opened); });
    if (!result.get()) {
        thread_.join();
        return false;
    }
    return true;
}

void HostServer::Run(std::promise<bool>& opened) {
    // Answers to plug-ins come before the window's drawing.
    SetThreadPriority(GetCurrentThread(), THREAD_PRIORITY_ABOVE_NORMAL);
    threadId_ = GetCurrentThreadId();
    const HINSTANCE instance = GetModuleHandleW(nullptr);
    WNDCLASSEXW wc = {};
    wc.cbSize = sizeof wc;
    wc.lpfnWndProc = &HostServer::WireProc;
    wc.hInstance = instance;
    wc.lpszClassName = wire::kHostWindowClass;
    if (RegisterClassExW(&wc)) {
        // A hidden top-level window (not message-only), so that FindWindow
        // of any process in the session finds it.
        wire_.reset(CreateWindowExW(0, wire::kHostWindowClass, L"vellhost", WS_POPUP, 0, 0, 0, 0,
                                    nullptr, nullptr, instance, nullptr));
    }
    if (!wire_) {
        opened.set_value(false);
        return;
    }
    SetWindowLongPtrW(wire_.get(), GWLP_USERDATA, reinterpret_cast<LONG_PTR>(this));
    SetTimer(wire_.get(), kSweepTimer, kSweepMs, nullptr);
    RestartChatter();
    // The message queue exists now: a WM_QUIT posted to the thread arrives.
    MSG msg;
    PeekMessageW(&msg, nullptr, 0, 0, PM_NOREMOVE);
    opened.set_value(true);
    while (GetMessageW(&msg, nullptr, 0, 0) > 0) {
        DispatchMessageW(&msg);
    }
    wire_.reset();
}

void HostServer::Adjust(int busyPercent, int deliveryDelayMs, int chatterMs) {
    const auto lock = Lock();
    world_.Adjust(busyPercent, deliveryDelayMs, chatterMs);
    PostMessageW(wire_.get(), kSettingsMessage, 0, 0);
}

void HostServer::RestartChatter() {
    KillTimer(wire_.get(), kChatterTimer);
    if (world_.Settings().chatterMs > 0) {
        SetTimer(wire_.get(), kChatterTimer, static_cast<UINT>(world_.Settings().chatterMs),
                 nullptr);
    }
}

bool HostServer::Say(const std::string& speaker, int mode, const std::string& to,
                     const std::string& text) {
    const auto lock = Lock();
    if (!world_.Say(speaker, mode, to, text)) {
        return false;
    }
    SpreadNews(0);
    return true;
}

std::string HostServer::Who(MemberId id) const {
    const Member* m = world_.Find(id);
    return m ? m->plugin + " as " + m->user : "a plug-in that left";
}

void HostServer::Log(char mark, const std::string& text, MemberId who) {
    std::string line = standin::TimeOfDay() + " " + mark + " " + text;
    if (who) {
        line += "  [" + Who(who) + "]";
    }
    log_(line);
}

void HostServer::Forget(MemberId id) {
    outbox_.erase(id);
    woken_.erase(id);
    areas_.erase(id);
}

LRESULT HostServer::Reply(HWND to, const wire::Reply& reply) {
    const std::string bytes = wire::Encode(reply);
    const auto area = areas_.find(AsMember(to));
    if (area != areas_.end() && bytes.size() <= wire::kReplyAreaBytes) {
        std::memcpy(area->second.view.get(), bytes.data(), bytes.size());
        return static_cast<LRESULT>(2 + bytes.size());
    }
    COPYDATASTRUCT data = {};
    data.dwData = static_cast<ULONG_PTR>(wire::Op::Reply);
    data.cbData = static_cast<DWORD>(bytes.size());
    data.lpData = const_cast<char*>(bytes.data());
    DWORD_PTR ignored = 0;
    // The plug-in waits for this inside its own send: it takes it at once.
    // Meanwhile no other plug-in's message is taken (SMTO_BLOCK): the world
    // answers one call after the other.
    SendMessageTimeoutW(to, WM_COPYDATA, reinterpret_cast<WPARAM>(wire_.get()),
                        reinterpret_cast<LPARAM>(&data), SMTO_BLOCK | SMTO_ABORTIFHUNG,
                        wire::kBoundMs, &ignored);
    return 1;
}

void HostServer::Queue(MemberId to, wire::Event event) {
    if (!world_.Find(to)) {
        return;
    }
    if (event.kind == wire::Event::Kind::Text) {
        Log('<',
            standin::Invocation("TextCallback",
                                {standin::Quoted(event.bytes), std::to_string(event.bytes.size())}),
            to);
    }
    outbox_[to].push_back(std::move(event));
    bool& woken = woken_[to];
    if (!woken) {
        woken = PostMessageW(AsWindow(to), wire::kWakeMessage, 0, 0) != 0;
    }
}

void HostServer::SpreadNews(MemberId except) {
    for (auto& [id, lines] : world_.TakeNews()) {
        for (const standin::ChatLine& l : lines) {
            if (id != except) {
                Log('<', MessageInvocation(l), id);
                Queue(id, MessageEvent(l));
            }
        }
    }
    changed_();
}

void HostServer::Schedule(int delayMs, std::function<void()> work) {
    const UINT_PTR id = nextTimer_++;
    timers_.emplace(id, std::move(work));
    SetTimer(wire_.get(), id, static_cast<UINT>(delayMs > 0 ? delayMs : USER_TIMER_MINIMUM),
             nullptr);
}

void HostServer::Sweep() {
    std::vector<MemberId> gone;
    for (const Member& m : world_.Members()) {
        if (!IsWindow(AsWindow(m.id))) {
            gone.push_back(m.id);
        }
    }
    for (MemberId id : gone) {
        Log('!', "the plug-in " + Who(id) + " is gone", 0);
        world_.Leave(id);
        Forget(id);
    }
    if (!gone.empty()) {
        changed_();
    }
}

LRESULT HostServer::Received(HWND from, const COPYDATASTRUCT& data) {
    const std::string_view bytes(static_cast<const char*>(data.lpData), data.cbData);
    const MemberId id = AsMember(from);
    wire::Reply reply;
    switch (static_cast<wire::Op>(data.dwData)) {
        case wire::Op::Join: {
            const std::optional<wire::JoinRequest> join = wire::DecodeJoin(bytes);
            if (!join) {
                return FALSE;
            }
            reply.user = world_.Join(id, join->plugin, join->user);
            Forget(id);
            if (!join->area.empty()) {
                Area area;
                area.mapping.reset(OpenFileMappingA(FILE_MAP_WRITE, FALSE, join->area.c_str()));
                if (area.mapping) {
                    area.view.reset(static_cast<char*>(MapViewOfFile(
                        area.mapping.get(), FILE_MAP_WRITE, 0, 0, wire::kReplyAreaBytes)));
                }
                if (area.view) {
                    areas_[id] = std::move(area);
                }
            }
            Log('>',
                standin::Invocation(
                    "InitDDE", {standin::Quoted(join->plugin), "onStatus", "onMessage", "onText"}),
                id);
            changed_();
            return Reply(from, reply);
        }
        case wire::Op::Drain: {
            woken_[id] = false;
            auto it = outbox_.find(id);
            if (it != outbox_.end()) {
                reply.events.assign(std::make_move_iterator(it->second.begin()),
                                    std::make_move_iterator(it->second.end()));
                outbox_.erase(it);
            }
            return Reply(from, reply);
        }
        case wire::Op::Call: {
            const std::optional<wire::Request> q = wire::DecodeRequest(bytes);
            if (!q) {
                return FALSE;
            }
            const std::string_view name = standin::ExportName(q->what);
            const std::string plugin = standin::Quoted(q->plugin);
            std::string call;
            if (q->what == standin::Export::QuibCommunicate) {
                call = standin::Invocation(
                    name, {plugin, std::to_string(q->mode), standin::Quoted(q->avatar),
                           standin::Quoted(q->message)});
            } else if (q->what == standin::Export::QuibSend) {
                call = standin::Invocation(name, {plugin, standin::Quoted(q->command)});
            } else {
                call = standin::Invocation(name, {plugin});
            }
            Log('>', call, id);
            HostWorld::Answer a = world_.Call(id, *q);
            reply.result = a.result;
            reply.status = a.status;
            if (a.text) {
                reply.textDueMs = world_.Settings().deliveryDelayMs;
            }
            for (const standin::ChatLine& l : a.lines) {
                Log('<', MessageInvocation(l), id);
                reply.events.push_back(MessageEvent(l));
            }
            if (a.status) {
                Log('<', standin::Invocation("StatusCallback", {standin::Quoted(*a.status)}), id);
            }
            // The caller goes on at once; the rest is the host's own work.
            const LRESULT answered = Reply(from, reply);
            ReplyMessage(answered);
            if (a.text) {
                Schedule(world_.Settings().deliveryDelayMs, [this, id, text = std::move(*a.text)] {
                    Queue(id, {wire::Event::Kind::Text, {}, 0, text});
                });
            }
            if (a.reply) {
                Schedule(a.reply->delayMs, [this, id, line = std::move(a.reply->line)] {
                    world_.Deliver(id, line);
                    SpreadNews(0);
                });
            }
            SpreadNews(id);
            return answered;
        }
        case wire::Op::Reply:
            break;
    }
    return FALSE;
}

LRESULT CALLBACK HostServer::WireProc(HWND hwnd, UINT msg, WPARAM wParam, LPARAM lParam) {
    auto* self = reinterpret_cast<HostServer*>(GetWindowLongPtrW(hwnd, GWLP_USERDATA));
    if (!self) {
        return DefWindowProcW(hwnd, msg, wParam, lParam);
    }
    const auto lock = self->Lock();
    switch (msg) {
        case kSettingsMessage:
            self->RestartChatter();
            return 0;
        case WM_COPYDATA:
            return self->Received(reinterpret_cast<HWND>(wParam),
                                  *reinterpret_cast<const COPYDATASTRUCT*>(lParam));
        case wire::kLeaveMessage: {
            const MemberId id = static_cast<MemberId>(wParam);
            if (self->world_.Find(id)) {
                self->Log('>', "KillDDE()", id);
                self->world_.Leave(id);
                self->Forget(id);
                self->changed_();
            }
            return 0;
        }
        case WM_TIMER:
            if (wParam == kChatterTimer) {
                self->world_.Chatter();
                self->SpreadNews(0);
            } else if (wParam == kSweepTimer) {
                self->Sweep();
            } else if (auto it = self->timers_.find(wParam); it != self->timers_.end()) {
                KillTimer(hwnd, wParam);
                std::function<void()> work = std::move(it->second);
                self->timers_.erase(it);
                work();
            }
            return 0;
        default:
            return DefWindowProcW(hwnd, msg, wParam, lParam);
    }
}

}  // namespace quib::vellhost
