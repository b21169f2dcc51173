#include "CadenzoPlayer/Error.hpp"
#include "CadenzoPlayer/audio/SystemDeviceBackends.hpp"

#include <jack/jack.h>

#include <algorithm>
#include <atomic>
#include <cerrno>
#include <cstdlib>
#include <dlfcn.h>
#include <mutex>
#include <string>
#include <vector>

namespace cadenzo {

namespace {

void ignoreJackMessage(const char*) {}

// Before the first JACK call: never start a server, and keep the library
// from writing to the console.
void prepareJack() {
    static std::once_flag once;
    std::call_once(once, [] {
        setenv("JACK_NO_START_SERVER", "1", 0);
        jack_set_error_function(ignoreJackMessage);
        jack_set_info_function(ignoreJackMessage);
    });
}

bool isOwnClient(const std::string& client) {
    const std::string own = JackDeviceBackend::jackClientName;
    // JACK renames a second client of the same name to "<name>-01" and so on.
    return client == own || client.rfind(own + "-", 0) == 0;
}

// The lister has a name of its own, so that a stream's client keeps the
// program's plain name in the server's graph.
const std::string listerName = std::string(JackDeviceBackend::jackClientName) + "-devices";

jack_client_t* openClient(const std::string& name = JackDeviceBackend::jackClientName) {
    jack_status_t status{};
    return jack_client_open(name.c_str(), JackNoStartServer, &status);
}

struct PortList {
    explicit PortList(const char** ports) : ports(ports) {}
    ~PortList() {
        if (ports) jack_free(ports);
    }
    PortList(const PortList&) = delete;
    PortList& operator=(const PortList&) = delete;
    const char** ports;
};

std::string clientOf(const char* port) {
    const std::string name(port);
    const auto colon = name.find(':');
    return colon == std::string::npos ? std::string() : name.substr(0, colon);
}

// Input ports of `client`, in port order, compared by exact client name.
std::vector<std::string> inputPortsOf(jack_client_t* jack, const std::string& client) {
    std::vector<std::string> result;
    PortList ports(jack_get_ports(jack, nullptr, JACK_DEFAULT_AUDIO_TYPE, JackPortIsInput));
    for (std::size_t i = 0; ports.ports && ports.ports[i]; ++i) {
        if (clientOf(ports.ports[i]) == client) result.emplace_back(ports.ports[i]);
    }
    return result;
}

class JackStream final : public DeviceStream {
public:
    JackStream(const std::string& uid, DeviceRenderCallback& callback) : callback_(callback) {
        const std::string device = uidName(uid);
        client_ = openClient();
        if (!client_) throwDeviceOpenFailure(uid, "the JACK server is not running");
        try {
            targets_ = inputPortsOf(client_, device);
            if (targets_.empty() || isOwnClient(device)) throwDeviceOpenFailure(uid, "no such JACK client");
            for (std::size_t i = 0; i < targets_.size(); ++i) {
                const std::string portName = "out_" + std::to_string(i + 1);
                jack_port_t* port = jack_port_register(client_, portName.c_str(), JACK_DEFAULT_AUDIO_TYPE,
                                                       JackPortIsOutput, 0);
                if (!port) throwDeviceOpenFailure(uid, "could not register JACK port " + portName);
                ports_.push_back(port);
            }
            buffers_.assign(ports_.size(), nullptr);
            sampleRate_ = jack_get_sample_rate(client_);
            jack_set_process_callback(client_, &JackStream::process, this);
            jack_set_sample_rate_callback(client_, &JackStream::rateChanged, this);
            jack_on_shutdown(client_, &JackStream::shutdown, this);
        } catch (...) {
            jack_client_close(client_);
            throw;
        }
        uid_ = uid;
    }

    ~JackStream() override {
        // After the server has gone only the close remains to be done; it
        // returns at once.
        if (active_ && !failed_) jack_deactivate(client_);
        jack_client_close(client_);
    }

    double sampleRate() const override { return static_cast<double>(sampleRate_.load()); }
    std::uint32_t channelCount() const override { return static_cast<std::uint32_t>(ports_.size()); }
    bool hasFailed() const override { return failed_.load(); }

    void start() override {
        if (jack_activate(client_) != 0) throwDeviceOpenFailure(uid_, "could not activate the JACK client");
        active_ = true;
        for (std::size_t i = 0; i < ports_.size(); ++i) {
            const int result = jack_connect(client_, jack_port_name(ports_[i]), targets_[i].c_str());
            if (result != 0 && result != EEXIST) throwDeviceOpenFailure(uid_, "could not connect to " + targets_[i]);
        }
    }

private:
    static int process(jack_nframes_t frames, void* context) {
        auto* self = static_cast<JackStream*>(context);
        for (std::size_t i = 0; i < self->ports_.size(); ++i) {
            self->buffers_[i] = static_cast<float*>(jack_port_get_buffer(self->ports_[i], frames));
        }
        // The server's frame time, unwrapped from 32 bits: cycles the server
        // skipped move it on, so the grid stays where the device is.
        const jack_nframes_t now = jack_last_frame_time(self->client_);
        if (self->clockStarted_) self->clock_ += static_cast<jack_nframes_t>(now - self->lastFrameTime_);
        self->clockStarted_ = true;
        self->lastFrameTime_ = now;
        self->callback_.renderDevice(self->buffers_.data(), static_cast<std::uint32_t>(self->buffers_.size()), frames,
                                     self->clock_);
        return 0;
    }

    // PipeWire's graph changes rate while it runs when another program asks it to.
    static int rateChanged(jack_nframes_t rate, void* context) {
        auto* self = static_cast<JackStream*>(context);
        if (self->sampleRate_.exchange(rate) != rate) self->callback_.deviceRateChanged(rate);
        return 0;
    }

    static void shutdown(void* context) { static_cast<JackStream*>(context)->failed_.store(true); }

    DeviceRenderCallback& callback_;
    std::string uid_;
    jack_client_t* client_ = nullptr;
    std::vector<std::string> targets_;
    std::vector<jack_port_t*> ports_;
    std::vector<float*> buffers_;
    std::atomic<jack_nframes_t> sampleRate_{0};
    bool active_ = false;
    std::atomic<bool> failed_{false};
    // Render thread only.
    bool clockStarted_ = false;
    jack_nframes_t lastFrameTime_ = 0;
    std::int64_t clock_ = 0;
};



// The client that lists stays open between listings: opening one maps the
// server's shared memory afresh each time, which costs more than the listing.
// One that lost its server is reopened; the last is closed when the program
// ends, so that the server sees it go.
struct Lister {
    ~Lister() {
        if (client) jack_client_close(client);
    }

    // Call with the mutex held.
    jack_client_t* open() {
        if (client && lost) {
            jack_client_close(client);
            client = nullptr;
        }
        if (!client) {
            lost = false;
            client = openClient(listerName);
            if (client) jack_on_shutdown(client, [](void* self) { static_cast<Lister*>(self)->lost = true; }, this);
        }
        return client;
    }

    std::mutex mutex;
    jack_client_t* client = nullptr;
    std::atomic<bool> lost{false};
};

Lister& lister() {
    static Lister instance;
    return instance;
}

} // namespace

JackDeviceBackend::JackDeviceBackend() { prepareJack(); }

bool JackDeviceBackend::serverAnswers() {
    prepareJack();
    jack_client_t* client = openClient(listerName);
    if (client) jack_client_close(client);
    return client != nullptr;
}

std::string JackDeviceBackend::libraryFile() {
    Dl_info info{};
    void* symbol = dlsym(RTLD_DEFAULT, "jack_client_open");
    return symbol && dladdr(symbol, &info) && info.dli_fname ? info.dli_fname : "";
}

std::vector<BackendDevice> JackDeviceBackend::devices() {
    std::vector<BackendDevice> devices;
    Lister& shared = lister();
    std::lock_guard lock(shared.mutex);
    jack_client_t* jack = shared.open();
    if (!jack) return devices;
    {
        PortList ports(jack_get_ports(jack, nullptr, JACK_DEFAULT_AUDIO_TYPE, JackPortIsInput));
        for (std::size_t i = 0; ports.ports && ports.ports[i]; ++i) {
            const std::string client = clientOf(ports.ports[i]);
            if (client.empty() || isOwnClient(client)) continue;
            auto found = std::find_if(devices.begin(), devices.end(), [&](const auto& d) { return d.name == client; });
            if (found == devices.end()) devices.push_back({"jack:" + client, client, 1, false});
            else ++found->channelCount;
        }
    }
    // JACK has no default device; the physical outputs are the natural one.
    auto system = std::find_if(devices.begin(), devices.end(), [](const auto& d) { return d.name == "system"; });
    if (system == devices.end()) system = devices.begin();
    if (system != devices.end()) system->isDefault = true;
    return devices;
}

std::unique_ptr<DeviceStream> JackDeviceBackend::openStream(const std::string& uid, double,
                                                            DeviceRenderCallback& callback) {
    prepareJack();
    return std::make_unique<JackStream>(uid, callback);
}

} // namespace cadenzo
