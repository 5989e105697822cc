#include "tests/plugins/PluginHarness.h"

#include <dlfcn.h>

#include <cmath>
#include <cstdlib>

namespace plugintest {

std::string BuiltPlugin(const std::string& fileName)
{
    return std::string(PELLAN_PLUGIN_OUTPUT_DIR) + "/" + fileName;
}

bool IsLoaded(const std::string& path)
{
    void* handle = ::dlopen(path.c_str(), RTLD_NOW | RTLD_NOLOAD);
    if (handle != nullptr)
        ::dlclose(handle);
    return handle != nullptr;
}

bool RunCommand(const std::string& command)
{
    return std::system(command.c_str()) == 0;
}

Rendered RenderSong(TZoSong& song, uint64_t limitBytes, uint32_t size)
{
    if (size == 0)
        size = song.Format.UnitRenderSize != 0 ? song.Format.UnitRenderSize : 8192;
    Rendered result;
    std::string block(size, '\0');
    auto* data = reinterpret_cast<uint8_t*>(block.data());
    while (result.Pcm.size() < limitBytes) {
        const uint32_t n = song.Render(data, size);
        result.Pcm.append(block, 0, n);
        if (n < size) {
            result.Ended = true;
            result.BytesAfterEnd = song.Render(data, size);
            break;
        }
    }
    return result;
}

std::vector<int16_t> Samples16(const std::string& pcm)
{
    std::vector<int16_t> samples(pcm.size() / 2);
    for (size_t i = 0; i < samples.size(); ++i)
        samples[i] = static_cast<int16_t>(static_cast<uint8_t>(pcm[2 * i]) |
                                          static_cast<uint8_t>(pcm[2 * i + 1]) << 8);
    return samples;
}

double Rms(const std::vector<int16_t>& samples, int channels, int channel, size_t from, size_t to)
{
    double sum = 0;
    size_t count = 0;
    for (size_t f = from; f < to && f * channels + channel < samples.size(); ++f, ++count)
        sum += double(samples[f * channels + channel]) * samples[f * channels + channel];
    return count == 0 ? 0 : std::sqrt(sum / double(count));
}

double Frequency(const std::vector<int16_t>& samples, int channels, int channel, size_t from,
                 size_t to, uint32_t rate)
{
    size_t first = 0, last = 0, crossings = 0;
    for (size_t f = from + 1; f < to && f * channels + channel < samples.size(); ++f) {
        if (samples[(f - 1) * channels + channel] < 0 && samples[f * channels + channel] >= 0) {
            if (crossings++ == 0)
                first = f;
            last = f;
        }
    }
    return crossings < 2 ? 0 : double(crossings - 1) * rate / double(last - first);
}

} // namespace plugintest
