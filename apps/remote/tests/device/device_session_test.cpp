#include "device/device_session.h"

#include <gtest/gtest.h>

#include <chrono>
#include <condition_variable>
#include <deque>
#include <filesystem>
#include <fstream>
#include <limits>
#include <mutex>
#include <thread>

#include "device/key_codes.h"
#include "vorn/callstream/fabric_backends.h"
#include "vorn/callstream/sample_picture.h"
#include "vorn/ui/endpoint_id.h"

namespace {

using namespace remote;
namespace vf = vorn_ui::fabric;
using vorn_ui::Point;
using vorn_ui::Rect;
using Kind = SessionStatus::Kind;
using namespace std::chrono_literals;

std::string endpoint_text() {
    vf::EndpointId::Bytes seed{};
    seed[0] = 7;
    return vf::EndpointId::from_seed(seed).to_string();
}

std::shared_ptr<const std::vector<std::uint8_t>> bytes(std::initializer_list<std::uint8_t> b) {
    return std::make_shared<const std::vector<std::uint8_t>>(b);
}

// A latch the test and the decoder thread meet at; every wait is bounded.
class Signal {
  public:
    void set() {
        std::lock_guard lock(mutex_);
        set_ = true;
        changed_.notify_all();
    }
    bool wait(std::chrono::milliseconds within = 5s) {
        std::unique_lock lock(mutex_);
        return changed_.wait_for(lock, within, [this] { return set_; });
    }

  private:
    std::mutex mutex_;
    std::condition_variable changed_;
    bool set_ = false;
};

// A decoder under the test's control. It "decodes" bytes {w, h, ...} into a w × h picture,
// records what it was given, can hold any of its first decodes until released, can report that
// it cannot go on, and can hold its own destruction.
struct Script {
    static constexpr std::size_t kHeld = 4;
    std::mutex mutex;
    std::vector<std::vector<std::uint8_t>> seen;
    std::array<Signal, kHeld> entered, release;
    std::array<bool, kHeld> hold{};
    bool fail_decoding = false;
    bool hold_destruction = false;
    Signal destruction_entered, release_destruction, destroyed;

    std::vector<std::vector<std::uint8_t>> seen_now() {
        std::lock_guard lock(mutex);
        return seen;
    }
};

class ScriptedDecoder final : public FrameDecoder {
  public:
    explicit ScriptedDecoder(std::shared_ptr<Script> script) : script_(std::move(script)) {}
    ~ScriptedDecoder() override {
        script_->destruction_entered.set();
        if (script_->hold_destruction) {
            script_->release_destruction.wait();
        }
        script_->destroyed.set();
    }
    std::expected<std::optional<DecodedFrame>, std::string> decode(
        std::span<const std::uint8_t> data) override {
        std::size_t index = 0;
        {
            std::lock_guard lock(script_->mutex);
            script_->seen.emplace_back(data.begin(), data.end());
            index = script_->seen.size() - 1;
        }
        if (index < Script::kHeld) {
            script_->entered[index].set();
            if (script_->hold[index]) {
                script_->release[index].wait();
            }
        }
        if (script_->fail_decoding) {
            return std::unexpected("decoder lost");
        }
        if (data.size() < 2) {
            return std::optional<DecodedFrame>{};
        }
        return DecodedFrame{data[0], data[1],
                            std::vector<std::uint8_t>(std::size_t{data[0]} * data[1] * 4, data[0])};
    }

  private:
    std::shared_ptr<Script> script_;
};

struct Fixture : ::testing::Test {
    std::uint64_t next_stream = 5;
    DeviceOutbox outbox;
    std::shared_ptr<Script> script = std::make_shared<Script>();

    DeviceSessionOptions scripted() {
        return {.make_decoder = [s = script] { return std::make_unique<ScriptedDecoder>(s); },
                .start_thread = {}};
    }
    DeviceSession open() {
        auto session = DeviceSession::open(endpoint_text(), next_stream, outbox, scripted());
        EXPECT_TRUE(session) << session.error();
        outbox.clear();
        return std::move(*session);
    }
    DeviceSession open_connected(std::uint32_t width = 1280, std::uint32_t height = 720) {
        DeviceSession session = open();
        session.on_fabric_event(vf::StreamStarted{session.stream(), width, height});
        return session;
    }
    // Polls the decoded slot until a picture arrives (bounded).
    std::optional<DecodedFrame> wait_picture(DeviceSession& session) {
        for (int i = 0; i < 500; ++i) {
            if (auto p = session.take_decoded_frame()) {
                return p;
            }
            std::this_thread::sleep_for(10ms);
        }
        return std::nullopt;
    }
};

TEST_F(Fixture, OpeningQueuesTheOpenCommandWithTheKeyAndTheNextStream) {
    auto session = DeviceSession::open(endpoint_text(), next_stream, outbox, scripted());
    ASSERT_TRUE(session) << session.error();
    EXPECT_EQ(session->stream(), 5u);
    EXPECT_EQ(next_stream, 6u);
    EXPECT_EQ(session->status(), SessionStatus::connecting());
    EXPECT_FALSE(session->surface_size());
    ASSERT_EQ(outbox.size(), 1u);
    const auto* open = std::get_if<vf::OpenStream>(&outbox[0]);
    ASSERT_TRUE(open);
    EXPECT_EQ(open->stream, 5u);
    EXPECT_EQ(open->endpoint, vf::EndpointId::parse(endpoint_text())->bytes());
}

TEST_F(Fixture, AHostThatIsNoEndpointIdFailsAndQueuesNothing) {
    for (std::string host :
         {std::string("mac-mini.local"), std::string(), endpoint_text().substr(1),
          endpoint_text() + " ", std::string(64, 'g')}) {
        auto session = DeviceSession::open(host, next_stream, outbox, scripted());
        ASSERT_FALSE(session) << host;
        EXPECT_EQ(session.error(), "Vorn host must be an exact certified device endpoint id");
    }
    EXPECT_TRUE(outbox.empty());
    EXPECT_EQ(next_stream, 5u);
}

TEST_F(Fixture, ADecoderThreadThatCannotStartLeavesTheOpenCommandQueued) {
    DeviceSessionOptions options = scripted();
    options.start_thread = [](std::function<void()>) -> std::expected<void, std::string> {
        return std::unexpected("Resource temporarily unavailable");
    };
    auto session = DeviceSession::open(endpoint_text(), next_stream, outbox, std::move(options));
    ASSERT_FALSE(session);
    EXPECT_EQ(session.error(),
              "could not start Vorn frame decoder: Resource temporarily unavailable");
    ASSERT_EQ(outbox.size(), 1u);
    EXPECT_TRUE(std::holds_alternative<vf::OpenStream>(outbox[0]));
    EXPECT_EQ(next_stream, 6u);
}

TEST(DeviceStream, NumbersGrowByOneAndStopAtTheLargest) {
    std::uint64_t next = 1;
    EXPECT_EQ(take_device_stream(next), 1u);
    EXPECT_EQ(take_device_stream(next), 2u);
    next = std::numeric_limits<std::uint64_t>::max() - 1;
    EXPECT_EQ(take_device_stream(next), std::numeric_limits<std::uint64_t>::max() - 1);
    EXPECT_EQ(take_device_stream(next), std::numeric_limits<std::uint64_t>::max());
    EXPECT_EQ(take_device_stream(next), std::numeric_limits<std::uint64_t>::max());
}

TEST_F(Fixture, FramesThatArriveWhileTheDecoderIsBusyLeaveOnlyTheNewest) {
    script->hold = {true, false, true, false};
    DeviceSession session = open();
    const std::uint64_t s = session.stream();
    EXPECT_TRUE(session.on_fabric_event(vf::Frame{s, bytes({1, 1})}));
    ASSERT_TRUE(script->entered[0].wait());
    // Two frames before the decoder wakes again: the first of them is never decoded.
    EXPECT_TRUE(session.on_fabric_event(vf::Frame{s, bytes({2, 2})}));
    EXPECT_TRUE(session.on_fabric_event(vf::Frame{s, bytes({3, 3})}));
    script->release[0].set();
    ASSERT_TRUE(script->entered[1].wait());
    // Once the decoder is on a third frame, the second frame's picture has replaced the first's.
    EXPECT_TRUE(session.on_fabric_event(vf::Frame{s, bytes({4, 4})}));
    ASSERT_TRUE(script->entered[2].wait());
    EXPECT_EQ(script->seen_now(), (std::vector<std::vector<std::uint8_t>>{{1, 1}, {3, 3}, {4, 4}}));

    auto newest = session.take_decoded_frame();
    ASSERT_TRUE(newest);
    EXPECT_EQ(newest->width, 3u);
    EXPECT_EQ(newest->pixels.size(), 3u * 3 * 4);
    EXPECT_EQ(session.surface_size(), (DeviceSession::Size{3, 3}));
    EXPECT_FALSE(session.take_decoded_frame());
    script->release[2].set();
    auto last = wait_picture(session);
    ASSERT_TRUE(last);
    EXPECT_EQ(last->width, 4u);
    // Frames while connecting are shown like any other; the status is untouched by them.
    EXPECT_EQ(session.status(), SessionStatus::connecting());
}

TEST_F(Fixture, EventsOfAnotherStreamChangeNothing) {
    DeviceSession session = open_connected(640, 480);
    const std::uint64_t other = session.stream() - 1;
    const vf::Event events[] = {
        vf::Connecting{other},
        vf::StreamStarted{other, 10, 10},
        vf::Frame{other, bytes({9, 9})},
        vf::Closed{other, vf::CloseReason::TargetRevoked, {}},
    };
    for (const auto& e : events) {
        EXPECT_FALSE(session.on_fabric_event(e)) << e.index();
    }
    EXPECT_EQ(session.status(), SessionStatus::connected());
    EXPECT_EQ(session.surface_size(), (DeviceSession::Size{640, 480}));
    // The session's own next frame is the first thing its decoder sees.
    EXPECT_TRUE(session.on_fabric_event(vf::Frame{session.stream(), bytes({5, 5})}));
    auto picture = wait_picture(session);
    ASSERT_TRUE(picture);
    EXPECT_EQ(picture->width, 5u);
    EXPECT_EQ(script->seen_now(), (std::vector<std::vector<std::uint8_t>>{{5, 5}}));
}

TEST_F(Fixture, StatusFollowsTheStreamEvents) {
    struct Row {
        vf::Event event;
        SessionStatus expected;
    };
    const std::uint64_t s = next_stream;
    const Row rows[] = {
        {vf::StreamStarted{s, 800, 600}, SessionStatus::connected()},
        {vf::Connecting{s}, SessionStatus::connecting()},
        {vf::Closed{s, vf::CloseReason::TargetRevoked, {}},
         SessionStatus::failed("Target revoked workspace control")},
        {vf::Closed{s, vf::CloseReason::TargetDisconnected, {}},
         SessionStatus::failed("Target disconnected")},
        {vf::Closed{s, vf::CloseReason::EncryptedRelayDisconnected, {}},
         SessionStatus::failed("Encrypted relay disconnected")},
        {vf::Closed{s, vf::CloseReason::WorkspaceControlClosed, {}},
         SessionStatus::failed("Workspace control closed")},
        {vf::Closed{s, vf::CloseReason::Other, "Device went to sleep"},
         SessionStatus::failed("Device went to sleep")},
        {vf::Closed{s, vf::CloseReason::Other, ""},
         SessionStatus::failed("The device closed the workspace stream")},
    };
    DeviceSession session = open();
    ASSERT_EQ(session.stream(), s);
    for (const Row& row : rows) {
        EXPECT_TRUE(session.on_fabric_event(row.event));
        EXPECT_EQ(session.status(), row.expected) << row.expected.text;
    }
    EXPECT_EQ(session.surface_size(), (DeviceSession::Size{800, 600}));
}

TEST_F(Fixture, AFrameAfterTheDecoderEndedFailsAsUnavailable) {
    // The test owns the decoder thread, so it knows when the thread has ended.
    std::thread decoder;
    DeviceSessionOptions options{
        .make_decoder = [] { return std::unique_ptr<FrameDecoder>(); },
        .start_thread = [&](std::function<void()> body) -> std::expected<void, std::string> {
            decoder = std::thread(std::move(body));
            return {};
        }};
    auto session = DeviceSession::open(endpoint_text(), next_stream, outbox, std::move(options));
    ASSERT_TRUE(session);
    decoder.join();
    session->on_fabric_event(vf::StreamStarted{session->stream(), 4, 4});
    EXPECT_TRUE(session->on_fabric_event(vf::Frame{session->stream(), bytes({1, 1})}));
    EXPECT_EQ(session->status(), SessionStatus::failed("Vorn frame decoder is unavailable"));
    // Later frames keep the first reason.
    EXPECT_FALSE(session->on_fabric_event(vf::Frame{session->stream(), bytes({1, 1})}));
    EXPECT_EQ(session->status().text, "Vorn frame decoder is unavailable");
}

TEST_F(Fixture, ADecoderEndingBetweenTheChecksFailsAsStopped) {
    script->fail_decoding = true;
    script->hold_destruction = true;
    DeviceSession session = open_connected();
    EXPECT_TRUE(session.on_fabric_event(vf::Frame{session.stream(), bytes({1, 1})}));
    EXPECT_EQ(session.status(), SessionStatus::connected());
    // The decoder gave up: its thread has closed the channel but not yet lowered the flag.
    ASSERT_TRUE(script->destruction_entered.wait());
    EXPECT_TRUE(session.on_fabric_event(vf::Frame{session.stream(), bytes({2, 2})}));
    EXPECT_EQ(session.status(), SessionStatus::failed("Vorn frame decoder stopped"));
    script->release_destruction.set();
    EXPECT_TRUE(script->destroyed.wait());
}

TEST_F(Fixture, PointerMapsOnlyInsideTheSurfaceOfAConnectedSession) {
    const Rect rect{100, 50, 740, 410};  // 640 × 360 showing 1280 × 720
    struct Row {
        const char* name;
        Point view;
        std::optional<Point> device;
    };
    const Row rows[] = {
        {"top-left corner", {100, 50}, Point{0, 0}},
        {"centre", {420, 230}, Point{640, 360}},
        {"real-valued, not truncated", {100.25, 50.75}, Point{0.5, 1.5}},
        {"just inside the right edge", {739.9999, 100}, Point{1279, 100}},
        {"on the right edge", {740, 100}, std::nullopt},
        {"on the bottom edge", {200, 410}, std::nullopt},
        {"left of the surface", {99.9, 100}, std::nullopt},
        {"above the surface", {200, 49.9}, std::nullopt},
    };
    DeviceSession session = open_connected(1280, 720);
    for (const Row& row : rows) {
        auto mapped = session.map_pointer(row.view, rect);
        ASSERT_EQ(mapped.has_value(), row.device.has_value()) << row.name;
        if (mapped) {
            EXPECT_DOUBLE_EQ(mapped->x, row.device->x) << row.name;
            EXPECT_DOUBLE_EQ(mapped->y, row.device->y) << row.name;
        }
    }
    EXPECT_FALSE(session.map_pointer({200, 100}, std::nullopt)) << "no surface laid out";
    EXPECT_FALSE(session.map_pointer({200, 100}, Rect{100, 50, 100, 410})) << "empty surface";
    EXPECT_TRUE(session.send_pointer_move({420, 230}, rect, outbox));
    EXPECT_FALSE(session.send_pointer_move({740, 230}, rect, outbox));
    ASSERT_EQ(outbox.size(), 1u);
    const auto& input = std::get<vf::SendInput>(outbox[0]);
    EXPECT_EQ(input.stream, session.stream());
    EXPECT_DOUBLE_EQ(std::get<vf::PointerMotion>(input.input).x, 640);

    DeviceSession zero = open_connected(0, 0);
    auto origin = zero.map_pointer({400, 200}, rect);
    ASSERT_TRUE(origin);
    EXPECT_EQ(*origin, (Point{0, 0}));
}

TEST_F(Fixture, NoPointerInputBeforeTheSizeIsKnown) {
    DeviceSession session = open();
    EXPECT_FALSE(session.map_pointer({200, 100}, Rect{0, 0, 640, 360}));
    EXPECT_FALSE(session.send_pointer_move({200, 100}, Rect{0, 0, 640, 360}, outbox));
    EXPECT_FALSE(session.send_pointer_button({200, 100}, Rect{0, 0, 640, 360},
                                             vorn_ui::PointerButton::Primary, true, outbox));
    EXPECT_TRUE(outbox.empty());
}

TEST_F(Fixture, InputIsQueuedOnlyWhileConnected) {
    DeviceSession session = open();
    const vf::DeviceInput key = vf::KeyInput{true, 30, 0};
    EXPECT_FALSE(session.send_device_input(key, outbox));
    session.on_fabric_event(vf::StreamStarted{session.stream(), 8, 8});
    EXPECT_TRUE(session.send_device_input(key, outbox));
    session.on_fabric_event(vf::Closed{session.stream(), vf::CloseReason::TargetDisconnected, {}});
    EXPECT_FALSE(session.send_device_input(key, outbox));
    ASSERT_EQ(outbox.size(), 1u);
    const auto& sent = std::get<vf::SendInput>(outbox[0]);
    EXPECT_EQ(sent.stream, session.stream());
    EXPECT_EQ(std::get<vf::KeyInput>(sent.input).key, 30u);
}

TEST_F(Fixture, APrimaryPressIsPrecededByAFocusRequest) {
    DeviceSession session = open_connected(100, 100);
    const Rect rect{0, 0, 100, 100};
    using vorn_ui::PointerButton;
    EXPECT_TRUE(session.send_pointer_button({10, 10}, rect, PointerButton::Primary, true, outbox));
    EXPECT_TRUE(session.send_pointer_button({10, 10}, rect, PointerButton::Primary, false, outbox));
    EXPECT_TRUE(
        session.send_pointer_button({10, 10}, rect, PointerButton::Secondary, true, outbox));
    EXPECT_TRUE(session.send_pointer_button({10, 10}, rect, PointerButton::Middle, false, outbox));
    EXPECT_TRUE(session.send_pointer_button({10, 10}, rect, PointerButton::Other, true, outbox));
    EXPECT_FALSE(
        session.send_pointer_button({100, 10}, rect, PointerButton::Primary, true, outbox));

    std::vector<vf::DeviceInput> sent;
    for (const auto& c : outbox) {
        sent.push_back(std::get<vf::SendInput>(c).input);
    }
    ASSERT_EQ(sent.size(), 5u);
    EXPECT_EQ(std::get<vf::FocusRequest>(sent[0]).value, 1);
    auto button = [&](std::size_t i) { return std::get<vf::PointerButton>(sent[i]); };
    EXPECT_TRUE(button(1).pressed);
    EXPECT_EQ(button(1).button, 0x110u);
    EXPECT_FALSE(button(2).pressed);
    EXPECT_EQ(button(2).button, 0x110u);
    EXPECT_EQ(button(3).button, 0x111u);
    EXPECT_TRUE(button(3).pressed);
    EXPECT_EQ(button(4).button, 0x112u);
    EXPECT_FALSE(button(4).pressed);
}

TEST(KeyCodes, PhysicalCodesMapToLinuxCodes) {
    const std::pair<const char*, std::uint32_t> mapped[] = {
        {"Digit1", 2},        {"Digit5", 6},      {"Digit9", 10},      {"Digit0", 11},
        {"Escape", 1},        {"AltLeft", 56},    {"AltRight", 100},   {"ControlLeft", 29},
        {"ControlRight", 97}, {"ShiftLeft", 42},  {"ShiftRight", 54},  {"Backspace", 14},
        {"Enter", 28},        {"Space", 57},      {"Tab", 15},         {"ArrowUp", 103},
        {"ArrowDown", 108},   {"ArrowLeft", 105}, {"ArrowRight", 106},
    };
    for (const auto& [code, linux_code] : mapped) {
        EXPECT_EQ(linux_key_code(code), std::optional<std::uint32_t>(linux_code)) << code;
    }
    // Letters follow the keyboard's rows, A to Z.
    const std::uint32_t letters[26] = {30, 48, 46, 32, 18, 33, 34, 35, 23, 36, 37, 38, 50,
                                       49, 24, 25, 16, 19, 31, 20, 22, 47, 17, 45, 21, 44};
    for (char c = 'A'; c <= 'Z'; ++c) {
        EXPECT_EQ(linux_key_code(std::string("Key") + c),
                  std::optional<std::uint32_t>(letters[c - 'A']))
            << c;
    }

    for (const char* code :
         {"Minus", "F1", "Delete", "Home", "End", "MetaLeft", "Numpad4", "Semicolon", "", "Keya",
          "Key", "KeyAA", "Digit", "Digit10", "escape", "IntlBackslash"}) {
        EXPECT_FALSE(linux_key_code(code)) << code;
    }
}

TEST_F(Fixture, KeysAreSentByPhysicalCodeAndOthersDropped) {
    DeviceSession session = open_connected(8, 8);
    auto key = [](std::variant<vorn_ui::NamedKey, std::string> k, bool pressed, std::string code) {
        vorn_ui::KeyEvent e;
        e.key = std::move(k);
        e.pressed = pressed;
        e.code = std::move(code);
        return e;
    };
    const auto q = key(std::string("a"), true, "KeyQ");  // "a" on an AZERTY layout
    const auto home = key(vorn_ui::NamedKey::Home, true, "Home");
    const auto shift_up = key(vorn_ui::NamedKey::Shift, false, "ShiftLeft");
    EXPECT_TRUE(session.send_key(q, outbox));
    EXPECT_FALSE(session.send_key(home, outbox));
    EXPECT_TRUE(session.send_key(shift_up, outbox));
    ASSERT_EQ(outbox.size(), 2u);
    const auto first = std::get<vf::KeyInput>(std::get<vf::SendInput>(outbox[0]).input);
    EXPECT_TRUE(first.pressed);
    EXPECT_EQ(first.key, 16u);
    EXPECT_EQ(first.reserved, 0u);
    const auto second = std::get<vf::KeyInput>(std::get<vf::SendInput>(outbox[1]).input);
    EXPECT_FALSE(second.pressed);
    EXPECT_EQ(second.key, 42u);
}

TEST_F(Fixture, ClosingQueuesOneCloseAndEndsTheDecoderThread) {
    DeviceSession session = open_connected();
    session.close(outbox);
    session.close(outbox);
    ASSERT_EQ(outbox.size(), 1u);
    EXPECT_EQ(std::get<vf::CloseStream>(outbox[0]).stream, session.stream());
    EXPECT_TRUE(script->destroyed.wait()) << "the decoder thread did not end";
    // A closed session takes no more events or input.
    EXPECT_FALSE(session.on_fabric_event(vf::Connecting{session.stream()}));
    EXPECT_FALSE(session.send_device_input(vf::KeyInput{true, 30, 0}, outbox));
    EXPECT_EQ(outbox.size(), 1u);
}

TEST_F(Fixture, DroppingASessionQueuesNothingAndEndsTheDecoderThread) {
    { DeviceSession session = open_connected(); }
    EXPECT_TRUE(outbox.empty());
    EXPECT_TRUE(script->destroyed.wait()) << "the decoder thread did not end";
}

// The whole path: a simulated device behind the fabric contract, the session's own H.264
// decoder thread, and input that comes back drawn into the device's picture.
TEST(DeviceSessionWithSimulatedDevice, ShowsTheDevicePictureAndEchoesInput) {
    vorn_callstream::fabric::SimulatedDevice device(
        {.width = 640,
         .height = 360,
         .frames_per_second = 30,
         .consent_delay = std::chrono::milliseconds(50)});
    std::mutex mutex;
    std::condition_variable arrived;
    std::deque<vf::Event> events;
    device.start([&](vf::Event e) {
        std::lock_guard lock(mutex);
        events.push_back(std::move(e));
        arrived.notify_all();
    });
    std::uint64_t next_stream = 1;
    DeviceOutbox outbox;
    auto opened = DeviceSession::open(endpoint_text(), next_stream, outbox);
    ASSERT_TRUE(opened) << opened.error();
    DeviceSession& session = *opened;
    // The decoder runs on its own named thread (Linux keeps the first 15 bytes of a name).
    auto decoder_thread_running = [] {
        for (const auto& task : std::filesystem::directory_iterator("/proc/self/task")) {
            std::ifstream comm(task.path() / "comm");
            std::string name;
            if (std::getline(comm, name) && name == "remote-vorn-dec") {
                return true;
            }
        }
        return false;
    };
    bool named = false;
    for (int i = 0; i < 200 && !named; ++i) {
        named = decoder_thread_running();
        if (!named) {
            std::this_thread::sleep_for(10ms);
        }
    }
    EXPECT_TRUE(named);
    auto flush = [&] {
        for (auto& c : outbox) {
            device.deliver(std::move(c));
        }
        outbox.clear();
    };
    // The UI thread's loop: hand commands to the fabric, apply events, take pictures.
    auto pump_until = [&](auto done) -> std::optional<DecodedFrame> {
        const auto deadline = std::chrono::steady_clock::now() + 10s;
        while (std::chrono::steady_clock::now() < deadline) {
            flush();
            std::deque<vf::Event> batch;
            {
                std::unique_lock lock(mutex);
                arrived.wait_for(lock, 20ms, [&] { return !events.empty(); });
                batch.swap(events);
            }
            for (const auto& e : batch) {
                session.on_fabric_event(e);
            }
            if (auto p = session.take_decoded_frame(); p && done(*p)) {
                return p;
            }
        }
        return std::nullopt;
    };
    auto rgb = [](const DecodedFrame& f, std::uint32_t x, std::uint32_t y) {
        const std::size_t i = (std::size_t{y} * f.width + x) * 4;
        return std::array<int, 3>{f.pixels[i], f.pixels[i + 1], f.pixels[i + 2]};
    };
    auto first = pump_until([](const DecodedFrame&) { return true; });
    ASSERT_TRUE(first) << "no picture; status: " << session.status().text;
    EXPECT_EQ(session.status(), SessionStatus::connected());
    EXPECT_EQ(first->width, 640u);
    EXPECT_EQ(first->height, 360u);
    EXPECT_EQ(session.surface_size(), (DeviceSession::Size{640, 360}));
    // The red bar (sixth of eight) across the top.
    const auto red = rgb(*first, 640 * 11 / 16, 20);
    EXPECT_GT(red[0], 200);
    EXPECT_LT(red[1], 50);
    EXPECT_LT(red[2], 50);

    // A view showing the picture at half size: view (400, 300) is device (480, 250).
    const Rect surface{80, 175, 400, 355};
    EXPECT_TRUE(session.send_pointer_move({320, 300}, surface, outbox));
    auto echoed = pump_until([&](const DecodedFrame& p) {
        const auto c = rgb(p, 480, 250);
        return c[0] > 200 && c[1] > 200 && c[2] > 200;
    });
    EXPECT_TRUE(echoed) << "the pointer never came back in the picture";

    session.close(outbox);
    flush();
    EXPECT_EQ(session.status(), SessionStatus::connected());
    bool ended = false;
    for (int i = 0; i < 200 && !ended; ++i) {
        ended = !decoder_thread_running();
        if (!ended) {
            std::this_thread::sleep_for(10ms);
        }
    }
    EXPECT_TRUE(ended) << "the decoder thread outlived its session";
}

}  // namespace
