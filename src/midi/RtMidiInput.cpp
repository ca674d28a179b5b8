#include "midi/RtMidiInput.h"

#include "core/midi/PortControl.h"

#include <QMetaObject>
#include <QThread>
#include <QTimer>

#include <RtMidi.h>
#include <jack/jack.h>

#include <algorithm>
#include <chrono>
#include <pthread.h>
#include <limits>
#include <unistd.h>

namespace quindel {

namespace {

constexpr int kWatchIntervalMs = 500;
constexpr uint8_t kFirstRealTimeStatus = 0xF8;
// How long the clients of a gone JACK server are kept before they are closed. Right after the
// loss libjack's own threads of those clients are still reporting it (in code that must not be
// interrupted); closing a client cancels its threads, so it waits until they are done.
constexpr auto kSettleTime = std::chrono::milliseconds(1000);
const char* const kClientName = "Quindel";
const char* const kPortName = "Quindel input";
const char* const kWatchClientName = "Quindel watch";
const char* const kAlsaSequencer = "/dev/snd/seq";

void silentJackMessage(const char*) {}

// libjack stops its client threads with asynchronous cancellation when a client is closed,
// also while one of them runs our callback. A cancellation taken inside our code (in a
// destructor, or in Qt's wake-up of the UI thread) unwinds through frames that cannot be
// unwound and ends the process. Our callbacks therefore run with cancellation held off; one
// that came meanwhile is taken when it is allowed again, as the callback returns, in this
// frame that has nothing to clean up.
template <typename Work> void withoutCancellation(const Work& work) {
    int previous = PTHREAD_CANCEL_ENABLE;
    pthread_setcancelstate(PTHREAD_CANCEL_DISABLE, &previous);
    work();
    pthread_setcancelstate(previous, nullptr);
}

bool apiCompiled(RtMidi::Api api) {
    std::vector<RtMidi::Api> apis;
    RtMidi::getCompiledApi(apis);
    return std::find(apis.begin(), apis.end(), api) != apis.end();
}

std::string hexBytes(const std::vector<unsigned char>& bytes) {
    static constexpr char kDigits[] = "0123456789ABCDEF";
    std::string text;
    text.reserve(bytes.size() * 3);
    for (unsigned char byte : bytes) {
        if (!text.empty())
            text += ' ';
        text += kDigits[byte >> 4];
        text += kDigits[byte & 0xFu];
    }
    return text;
}

} // namespace

// A JACK client of its own that tells the control when the JACK server goes away (RtMidi's
// JACK back end does not notice) and when a port disappears. Opening it is also how the
// control finds out, without any output on the terminal, whether a JACK server is running.
//
// libjack frees every client of the process that still belongs to a server that has gone as
// soon as the process opens a new client. Clients of other controls would then be used after
// being freed, so no client is opened while any control still holds one of a gone server;
// each control drops those as soon as its watch reports the loss.
class JackWatch {
  public:
    static std::unique_ptr<JackWatch> open(std::function<void()> poke) {
        if (anyServerGone())
            return nullptr;
        // libjack prints every failed connection attempt; a missing server is no error here.
        jack_set_error_function(silentJackMessage);
        jack_set_info_function(silentJackMessage);
        jack_status_t status{};
        jack_client_t* client = jack_client_open(kWatchClientName, JackNoStartServer, &status);
        jack_set_error_function(nullptr);
        jack_set_info_function(nullptr);
        if (!client)
            return nullptr;
        std::unique_ptr<JackWatch> watch(new JackWatch(client, std::move(poke)));
        jack_on_shutdown(client, &JackWatch::onShutdown, watch.get());
        jack_set_port_registration_callback(client, &JackWatch::onPortRegistration, watch.get());
        if (jack_activate(client) != 0)
            return nullptr;
        return watch;
    }
    ~JackWatch() {
        jack_client_close(client_);
        std::lock_guard lock(registryMutex());
        auto& watches = registry();
        watches.erase(std::find(watches.begin(), watches.end(), this));
    }
    JackWatch(const JackWatch&) = delete;
    JackWatch& operator=(const JackWatch&) = delete;

    bool serverGone() const { return gone_.load(); }
    // Gone long enough for libjack's threads of this client to have finished with the loss.
    bool settled() const {
        return serverGone() && std::chrono::steady_clock::now() - goneAt_.load() >= kSettleTime;
    }

  private:
    JackWatch(jack_client_t* client, std::function<void()> poke)
        : client_(client), poke_(std::move(poke)) {
        std::lock_guard lock(registryMutex());
        registry().push_back(this);
    }

    static std::mutex& registryMutex() {
        static std::mutex mutex;
        return mutex;
    }
    static std::vector<JackWatch*>& registry() {
        static std::vector<JackWatch*> watches;
        return watches;
    }
    static bool anyServerGone() {
        std::lock_guard lock(registryMutex());
        const auto& watches = registry();
        return std::any_of(watches.begin(), watches.end(),
                           [](const JackWatch* watch) { return watch->serverGone(); });
    }

    // Both run on JACK's threads; poke only posts a check to the control's thread.
    static void onShutdown(void* self) {
        withoutCancellation([self] {
            auto* watch = static_cast<JackWatch*>(self);
            watch->goneAt_.store(std::chrono::steady_clock::now());
            watch->gone_.store(true);
            watch->poke_();
        });
    }
    static void onPortRegistration(jack_port_id_t, int registered, void* self) {
        if (!registered)
            withoutCancellation([self] { static_cast<JackWatch*>(self)->poke_(); });
    }

    jack_client_t* client_;
    std::function<void()> poke_;
    std::atomic<bool> gone_{false};
    std::atomic<std::chrono::steady_clock::time_point> goneAt_{};
};

struct RtMidiInput::Backend {
    RtMidi::Api api = RtMidi::UNSPECIFIED;
    std::unique_ptr<JackWatch> watch; // JACK only
    std::unique_ptr<RtMidiIn> input;

    bool gone() const { return watch && watch->serverGone(); }
    bool droppable() const { return watch && watch->settled(); }
    ~Backend() {
        // The RtMidi client goes first, so no message callback runs once the watch is closed.
        input.reset();
        watch.reset();
    }
};

// RtMidi's error callback carries RtMidi types that the header does not know.
struct MIDIInputErrors {
    static void onError(RtMidiError::Type type, const std::string& text, void* self) {
        withoutCancellation(
            [&] { static_cast<RtMidiInput*>(self)->onRtMidiError(static_cast<int>(type), text); });
    }
};

RtMidiInput::RtMidiInput(uint8_t languageIndex, QObject* parent)
    : QObject(parent), languageIndex_(languageIndex), watchTimer_(new QTimer(this)) {
    watchTimer_->setInterval(kWatchIntervalMs);
    connect(watchTimer_, &QTimer::timeout, this, [this] { checkDevice(); });
    // The back ends are looked for at the first enumeration or opening, so a window that never
    // uses MIDI holds no MIDI clients.
}

RtMidiInput::~RtMidiInput() {
    watchTimer_->stop();
    closePort();
    // Closing the RtMidi clients ends their threads before the QObject goes away.
    backends_.clear();
}

// ---- Back ends and the device list ----

void RtMidiInput::dropGoneBackends() {
    if (open_ && openBackend_->gone())
        loseDevice();
    const auto dead = std::remove_if(backends_.begin(), backends_.end(),
                                     [](const auto& backend) { return backend->droppable(); });
    if (dead != backends_.end()) {
        backends_.erase(dead, backends_.end());
        devices_.clear();
    }
    // The watch timer comes back for the clients still waiting to be closed.
    if (std::any_of(backends_.begin(), backends_.end(),
                    [](const auto& backend) { return backend->gone(); }))
        watchTimer_->start();
}

void RtMidiInput::updateBackends() {
    dropGoneBackends();
    const auto has = [this](RtMidi::Api api) {
        return std::any_of(backends_.begin(), backends_.end(),
                           [api](const auto& backend) { return backend->api == api; });
    };
    const auto setUp = [this](Backend& backend) {
        backend.input->setErrorCallback(&MIDIInputErrors::onError, this);
        backend.input->setCallback(&RtMidiInput::onMidiMessage, this);
        // SysEx comes whole; system real-time messages are dropped as they are queued.
        backend.input->ignoreTypes(false, false, false);
    };

    if (!has(RtMidi::LINUX_ALSA) && apiCompiled(RtMidi::LINUX_ALSA) &&
        access(kAlsaSequencer, R_OK | W_OK) == 0) {
        auto backend = std::make_unique<Backend>();
        backend->api = RtMidi::LINUX_ALSA;
        try {
            backend->input = std::make_unique<RtMidiIn>(RtMidi::LINUX_ALSA, kClientName);
            setUp(*backend);
            backends_.insert(backends_.begin(), std::move(backend));
        } catch (const std::exception&) {
            // No sequencer after all: the list goes on without ALSA ports.
        }
    }
    if (!has(RtMidi::UNIX_JACK) && apiCompiled(RtMidi::UNIX_JACK)) {
        auto poke = [this] {
            QMetaObject::invokeMethod(this, &RtMidiInput::checkDevice, Qt::QueuedConnection);
        };
        if (auto watch = JackWatch::open(poke)) {
            auto backend = std::make_unique<Backend>();
            backend->api = RtMidi::UNIX_JACK;
            backend->watch = std::move(watch);
            try {
                backend->input = std::make_unique<RtMidiIn>(RtMidi::UNIX_JACK, kClientName);
                setUp(*backend);
                backends_.push_back(std::move(backend));
            } catch (const std::exception&) {
            }
        }
    }
}

void RtMidiInput::refreshDevices() {
    updateBackends();
    devices_.clear();
    for (std::size_t b = 0; b < backends_.size(); ++b) {
        if (backends_[b]->gone())
            continue; // waiting to be closed: it has no devices
        try {
            const unsigned count = backends_[b]->input->getPortCount();
            for (unsigned port = 0; port < count; ++port)
                devices_.push_back({b, port, backends_[b]->input->getPortName(port)});
        } catch (const std::exception&) {
            // A back end that fails to list its ports contributes none.
        }
    }
    // On a PipeWire desktop a controller is an ALSA port and, through PipeWire's JACK, a port
    // of its MIDI bridge as well, a graph period later. It is offered once, by the short path.
    std::vector<std::string> alsaPorts;
    for (const Device& device : devices_)
        if (backends_[device.backend]->api == RtMidi::LINUX_ALSA)
            alsaPorts.push_back(device.name);
    std::erase_if(devices_, [&](const Device& device) {
        return backends_[device.backend]->api == RtMidi::UNIX_JACK &&
               isMidiBridgePort(device.name) &&
               std::any_of(alsaPorts.begin(), alsaPorts.end(),
                           [&](const std::string& alsa) { return sameDevice(alsa, device.name); });
    });
}

bool RtMidiInput::backendHasPort(std::size_t backend, const std::string& name) {
    if (backend >= backends_.size())
        return false;
    try {
        RtMidiIn& input = *backends_[backend]->input;
        const unsigned count = input.getPortCount();
        for (unsigned port = 0; port < count; ++port) {
            if (input.getPortName(port) == name)
                return true;
        }
    } catch (const std::exception&) {
    }
    return false;
}

int16_t RtMidiInput::deviceCount() {
    refreshDevices();
    return static_cast<int16_t>(
        std::min<std::size_t>(devices_.size(), std::numeric_limits<int16_t>::max()));
}

std::string RtMidiInput::deviceName() {
    if (devices_.empty())
        refreshDevices();
    if (index_ < 0 || static_cast<std::size_t>(index_) >= devices_.size())
        return {};
    return devices_[static_cast<std::size_t>(index_)].name;
}

void RtMidiInput::deviceIndex(int16_t index) {
    index_ = index;
}

// ---- The port ----

void RtMidiInput::portCommand(int16_t command) {
    switch (command) {
    case kPortOpen:
        openPort();
        break;
    case kPortClose:
        closePort();
        break;
    case kPortStart: {
        bool held = false;
        {
            std::lock_guard lock(mutex_);
            intake_ = open_ ? Intake::Deliver : Intake::Drop;
            held = open_ && !queue_.empty();
        }
        if (held && !notifyPending_.exchange(true))
            QMetaObject::invokeMethod(this, &RtMidiInput::deliverNotification,
                                      Qt::QueuedConnection);
        break;
    }
    case kPortStop: {
        std::lock_guard lock(mutex_);
        intake_ = Intake::Drop;
        break;
    }
    case kPortDropHead: {
        std::lock_guard lock(mutex_);
        if (!queue_.empty())
            queue_.pop_front();
        break;
    }
    default:
        break;
    }
}

void RtMidiInput::openPort() {
    closePort();
    refreshDevices();
    if (index_ < 0 || static_cast<std::size_t>(index_) >= devices_.size()) {
        reportError(kNoSuchDevice, std::to_string(index_ + 1));
        return;
    }
    const Device device = devices_[static_cast<std::size_t>(index_)];
    Backend* backend = backends_[device.backend].get();
    {
        // The device may send as soon as RtMidi has connected it, before the start.
        std::lock_guard lock(mutex_);
        queue_.clear();
        intake_ = Intake::Hold;
        overflowReported_ = false;
    }
    received_.store(0);
    dropped_.store(0);

    opening_ = true;
    openError_.clear();
    try {
        backend->input->openPort(device.port, kPortName);
    } catch (const std::exception& error) {
        openError_ = error.what();
    }
    opening_ = false;
    if (!openError_.empty() || !backend->input->isPortOpen()) {
        try {
            backend->input->closePort();
        } catch (const std::exception&) {
        }
        {
            std::lock_guard lock(mutex_);
            intake_ = Intake::Drop;
            queue_.clear();
        }
        reportError(kOpenFailed,
                    openError_.empty() ? device.name : device.name + ": " + openError_);
        return;
    }
    open_ = true;
    openBackend_ = backend;
    openName_ = device.name;
    watchTimer_->start();
}

void RtMidiInput::closePort() {
    if (!open_)
        return;
    watchTimer_->stop();
    try {
        openBackend_->input->closePort();
    } catch (const std::exception&) {
    }
    {
        // Messages still queued belong to the closed connection; a new one starts empty.
        std::lock_guard lock(mutex_);
        intake_ = Intake::Drop;
        queue_.clear();
    }
    open_ = false;
    openBackend_ = nullptr;
}

int16_t RtMidiInput::openState() {
    return open_ ? 1 : 0;
}

void RtMidiInput::checkDevice() {
    if (std::any_of(backends_.begin(), backends_.end(),
                    [](const auto& backend) { return backend->gone(); })) {
        // Closes the port at once and the clients of a gone JACK server once they have
        // settled (see JackWatch); looking for a new server waits for the next enumeration.
        dropGoneBackends();
        return;
    }
    if (!open_) {
        watchTimer_->stop(); // nothing left to watch
        return;
    }
    const auto backend = static_cast<std::size_t>(
        std::find_if(backends_.begin(), backends_.end(),
                     [this](const auto& b) { return b.get() == openBackend_; }) -
        backends_.begin());
    if (openBackend_->gone() || !backendHasPort(backend, openName_))
        loseDevice();
}

void RtMidiInput::loseDevice() {
    const std::string name = openName_;
    closePort();
    reportError(kDeviceLost, name);
}

void RtMidiInput::statusFilter(int16_t status, bool filtered) {
    if (status >= 0 && status < static_cast<int16_t>(filtered_.size()))
        filtered_[static_cast<std::size_t>(status)].store(filtered);
}

void RtMidiInput::notifyEnabled(bool enabled) {
    notifyEnabled_ = enabled;
    if (enabled && pendingCount() > 0 && !notifyPending_.exchange(true))
        QMetaObject::invokeMethod(this, &RtMidiInput::deliverNotification, Qt::QueuedConnection);
}

// ---- The queue ----

void RtMidiInput::onMidiMessage(double, std::vector<unsigned char>* bytes, void* self) {
    if (bytes)
        withoutCancellation([&] { static_cast<RtMidiInput*>(self)->enqueue(*bytes); });
}

void RtMidiInput::enqueue(const std::vector<unsigned char>& bytes) {
    if (bytes.empty())
        return;
    const uint8_t status = bytes[0];
    // A message must begin with a status byte; a stray data byte is dropped. System real-time
    // messages (clock, start, stop, Active Sensing, reset: 0xF8 and up) never become triggers,
    // and a running sequencer sends clock 24 times a beat: they stay out of the queue.
    if (status < 0x80 || status >= kFirstRealTimeStatus || filtered_[status].load())
        return;
    Message message;
    message.status = status;
    message.data1 = bytes.size() > 1 ? bytes[1] : 0;
    message.data2 = bytes.size() > 2 ? bytes[2] : 0;
    if (status >= 0xF0)
        message.systemData = hexBytes(bytes);

    bool overflowNow = false;
    bool announce = false;
    {
        std::lock_guard lock(mutex_);
        if (intake_ == Intake::Drop)
            return;
        announce = intake_ == Intake::Deliver;
        if (queue_.size() >= kQueueLimit) {
            queue_.pop_front();
            dropped_.fetch_add(1);
            overflowNow = !overflowReported_;
            overflowReported_ = true;
        }
        queue_.push_back(std::move(message));
        received_.fetch_add(1);
    }
    if (overflowNow)
        reportError(kQueueOverflow, {});
    // One notification at a time: the handler empties the whole queue anyway. Held messages
    // are announced by the start.
    if (announce && !notifyPending_.exchange(true))
        QMetaObject::invokeMethod(this, &RtMidiInput::deliverNotification, Qt::QueuedConnection);
}

void RtMidiInput::deliverNotification() {
    notifyPending_.store(false);
    if (!notifyEnabled_ || !messagesArrived || pendingCount() == 0)
        return;
    // A copy, so that the handler may replace the member (or the window may drop the control)
    // while it runs.
    auto handler = messagesArrived;
    handler();
}

int16_t RtMidiInput::pendingCount() {
    std::lock_guard lock(mutex_);
    return static_cast<int16_t>(queue_.size());
}

int16_t RtMidiInput::messageStatus() {
    std::lock_guard lock(mutex_);
    return queue_.empty() ? 0 : queue_.front().status;
}

int16_t RtMidiInput::messageData1() {
    std::lock_guard lock(mutex_);
    return queue_.empty() ? 0 : queue_.front().data1;
}

int16_t RtMidiInput::messageData2() {
    std::lock_guard lock(mutex_);
    return queue_.empty() ? 0 : queue_.front().data2;
}

MidiMessage RtMidiInput::headMessage() {
    // Under one lock: between separate reads a full queue may drop its head, and the bytes of
    // two messages would make one code.
    std::lock_guard lock(mutex_);
    if (queue_.empty())
        return {};
    const Message& head = queue_.front();
    return {head.status, head.data1, head.data2};
}

std::string RtMidiInput::systemData() {
    std::lock_guard lock(mutex_);
    return queue_.empty() ? std::string() : queue_.front().systemData;
}

// ---- Errors ----

void RtMidiInput::onRtMidiError(int type, const std::string& text) {
    const auto kind = static_cast<RtMidiError::Type>(type);
    if (kind == RtMidiError::WARNING || kind == RtMidiError::DEBUG_WARNING) {
        reportError(kInformation, text);
        return;
    }
    // During an opening on this thread the error becomes the reason of kOpenFailed.
    if (QThread::currentThread() == thread() && opening_) {
        openError_ = text;
        return;
    }
    reportError(kDriverError, text);
}

std::string RtMidiInput::errorText(int code, const std::string& detail) const {
    const bool english = languageIndex_.load() == 2;
    switch (code) {
    case kNoSuchDevice:
        return english ? "MIDI input device " + detail + " is not present."
                       : "La periferica MIDI d'ingresso " + detail + " non è presente.";
    case kOpenFailed:
        return english ? "Cannot open the MIDI input device \"" + detail + "\"."
                       : "Impossibile aprire la periferica MIDI d'ingresso \"" + detail + "\".";
    case kDeviceLost:
        return english ? "The MIDI input device \"" + detail +
                             "\" is no longer available; its port has been closed."
                       : "La periferica MIDI d'ingresso \"" + detail +
                             "\" non è più disponibile: la porta è stata chiusa.";
    case kDriverError:
        return english ? "MIDI system error: " + detail : "Errore del sistema MIDI: " + detail;
    case kQueueOverflow:
        return english ? "Too many MIDI messages at once; the oldest were dropped."
                       : "Troppi messaggi MIDI in una volta: i più vecchi sono stati scartati.";
    default:
        return detail;
    }
}

void RtMidiInput::reportError(int code, const std::string& detail) {
    // Always through the event loop: the handler may show a modal message box, which must not
    // run in the middle of a port command or on an RtMidi thread.
    QMetaObject::invokeMethod(
        this,
        [this, code, text = errorText(code, detail)] {
            if (!errorReported)
                return;
            auto handler = errorReported;
            handler(code, text);
        },
        Qt::QueuedConnection);
}

} // namespace quindel
