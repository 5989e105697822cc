#include "plugins/midi/SharedSoundFont.h"

#include <dlfcn.h>
#include <fluidsynth.h>
#ifdef _OPENMP
#include <omp.h>
#endif

namespace midikpi {

namespace {

// FluidSynth as a library inside a host: no audio driver (none is ever created), no threads of
// its own, no memory locked, every sample loaded at once, and no lock inside the synthesizer,
// since SharedSoundFont serializes the calls. Everything else keeps FluidSynth's defaults, so
// a song sounds as FluidSynth's own renderer plays it.
fluid_settings_t* NewSettings(uint32_t rate)
{
    fluid_settings_t* settings = new_fluid_settings();
    if (settings == nullptr)
        return nullptr;
    if (fluid_settings_setnum(settings, "synth.sample-rate", rate) != FLUID_OK ||
        fluid_settings_setint(settings, "synth.cpu-cores", 1) != FLUID_OK ||
        fluid_settings_setint(settings, "synth.threadsafe-api", 0) != FLUID_OK ||
        fluid_settings_setint(settings, "synth.lock-memory", 0) != FLUID_OK ||
        fluid_settings_setint(settings, "synth.dynamic-sample-loading", 0) != FLUID_OK) {
        delete_fluid_settings(settings);
        return nullptr;
    }
    return settings;
}

// FluidSynth prints its complaints (a missing preset, a file it cannot read) to the host's
// standard error; the plug-in answers for itself through a failed open instead.
void SilenceFluidSynth()
{
    static std::once_flag once;
    std::call_once(once, [] {
        for (int level = FLUID_PANIC; level < LAST_LOG_LEVEL; ++level)
            fluid_set_log_function(level, nullptr, nullptr);
    });
}

// FluidSynth reads a SoundFont's samples with OpenMP where it was built with it, which leaves
// a pool of idle threads behind in the host. One thread reads the file just as well.
class OneLoaderThread {
public:
#ifdef _OPENMP
    OneLoaderThread() : FSaved(omp_get_max_threads())
    {
        omp_set_num_threads(1);
    }
    ~OneLoaderThread()
    {
        omp_set_num_threads(FSaved);
    }

private:
    int FSaved;
#endif
};

// FluidSynth registers GLib object types (through libinstpatch) that GLib can never forget:
// unloaded and loaded again with the plug-in, it would wait for ever on its own earlier
// registration. So FluidSynth stays loaded once the plug-in has used it; the plug-in itself
// still unloads.
void KeepFluidSynthLoaded()
{
    static std::once_flag once;
    std::call_once(once, [] {
        Dl_info info{};
        if (::dladdr(reinterpret_cast<void*>(&new_fluid_settings), &info) != 0 &&
            info.dli_fname != nullptr)
            ::dlopen(info.dli_fname, RTLD_NOW | RTLD_NOLOAD | RTLD_NODELETE);
    });
}

} // namespace

std::shared_ptr<SharedSoundFont> SharedSoundFont::Load(const std::string& path)
{
    KeepFluidSynthLoaded();
    SilenceFluidSynth();
    // Not make_shared: its type tag would be a unique symbol, which keeps the library from
    // ever being unloaded.
    std::shared_ptr<SharedSoundFont> font(new SharedSoundFont);
    font->FLoaderSettings = NewSettings(44100);
    if (font->FLoaderSettings == nullptr)
        return nullptr;
    font->FLoader = new_fluid_synth(font->FLoaderSettings);
    if (font->FLoader == nullptr)
        return nullptr;
    int id;
    {
        OneLoaderThread oneThread;
        id = fluid_synth_sfload(font->FLoader, path.c_str(), 0);
    }
    if (id == FLUID_FAILED)
        return nullptr;
    font->FSoundFont = fluid_synth_get_sfont_by_id(font->FLoader, id);
    if (font->FSoundFont == nullptr)
        return nullptr;
    return font;
}

void SharedSoundFont::RateRange(uint32_t& lowest, uint32_t& highest)
{
    static const std::pair<uint32_t, uint32_t> range = [] {
        SilenceFluidSynth();
        double low = 0, high = 0;
        fluid_settings_t* settings = new_fluid_settings();
        if (settings == nullptr ||
            fluid_settings_getnum_range(settings, "synth.sample-rate", &low, &high) != FLUID_OK)
            low = high = 0;
        delete_fluid_settings(settings);
        return std::pair<uint32_t, uint32_t>(static_cast<uint32_t>(low),
                                             static_cast<uint32_t>(high));
    }();
    lowest = range.first;
    highest = range.second;
}

// The loader synthesizer goes last: it owns the SoundFont that the others borrowed.
SharedSoundFont::~SharedSoundFont()
{
    if (FLoader != nullptr)
        delete_fluid_synth(FLoader);
    if (FLoaderSettings != nullptr)
        delete_fluid_settings(FLoaderSettings);
    for (auto& [rate, settings] : FSettings)
        delete_fluid_settings(settings);
}

fluid_synth_t* SharedSoundFont::NewSynth(uint32_t rate)
{
    fluid_settings_t*& settings = FSettings[rate];
    if (settings == nullptr)
        settings = NewSettings(rate);
    if (settings == nullptr)
        return nullptr;
    fluid_synth_t* synth = new_fluid_synth(settings);
    if (synth == nullptr)
        return nullptr;
    // The synthesizer plays the loaded SoundFont without owning it: it is taken off again
    // before the synthesizer is deleted (FreeSynth), so only the loader ever frees it.
    if (fluid_synth_add_sfont(synth, FSoundFont) == FLUID_FAILED) {
        delete_fluid_synth(synth);
        return nullptr;
    }
    return synth;
}

void SharedSoundFont::FreeSynth(fluid_synth_t* synth)
{
    if (synth == nullptr)
        return;
    fluid_synth_remove_sfont(synth, FSoundFont);
    delete_fluid_synth(synth);
}

FluidSynthOutput::FluidSynthOutput(std::shared_ptr<SharedSoundFont> soundFont, uint32_t rate)
    : FSoundFont(std::move(soundFont)), FRate(rate)
{
    std::lock_guard lock(FSoundFont->Mutex());
    FSynth = FSoundFont->NewSynth(FRate);
}

FluidSynthOutput::~FluidSynthOutput()
{
    std::lock_guard lock(FSoundFont->Mutex());
    FSoundFont->FreeSynth(FSynth);
}

void FluidSynthOutput::Reset()
{
    FSoundFont->FreeSynth(FSynth);
    FSynth = FSoundFont->NewSynth(FRate);
}

void FluidSynthOutput::Send(const MidiEvent& event, const MidiSong& song)
{
    if (FSynth == nullptr)
        return;
    const int channel = event.Status & 0x0F;
    switch (event.Status & 0xF0) {
    case 0x80:
        fluid_synth_noteoff(FSynth, channel, event.Data1);
        break;
    case 0x90:
        fluid_synth_noteon(FSynth, channel, event.Data1, event.Data2); // 0 is a note-off
        break;
    case 0xA0:
        fluid_synth_key_pressure(FSynth, channel, event.Data1, event.Data2);
        break;
    case 0xB0:
        fluid_synth_cc(FSynth, channel, event.Data1, event.Data2);
        break;
    case 0xC0:
        fluid_synth_program_change(FSynth, channel, event.Data1);
        break;
    case 0xD0:
        fluid_synth_channel_pressure(FSynth, channel, event.Data1);
        break;
    case 0xE0:
        fluid_synth_pitch_bend(FSynth, channel, event.Data1 | event.Data2 << 7);
        break;
    case 0xF0: {
        // FluidSynth takes the message without its F0 and F7 (GM, GS and XG resets, tunings).
        const std::string& data = song.Sysex[event.Extra];
        size_t size = data.size();
        if (size > 0 && static_cast<uint8_t>(data[size - 1]) == 0xF7)
            --size;
        if (size > 0)
            fluid_synth_sysex(FSynth, data.data(), static_cast<int>(size), nullptr, nullptr,
                              nullptr, 0);
        break;
    }
    default:
        break;
    }
}

void FluidSynthOutput::Synthesize(uint32_t frames, float* left, float* right)
{
    if (FSynth == nullptr) {
        std::fill(left, left + frames, 0.0f);
        std::fill(right, right + frames, 0.0f);
        return;
    }
    fluid_synth_write_float(FSynth, static_cast<int>(frames), left, 0, 1, right, 0, 1);
}

} // namespace midikpi
