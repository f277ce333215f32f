// "tavrin.ini" as any bytes, then the station's own change of one key. Besides what the
// sanitizers catch: reading what was written gives back the same lines (lines the station does
// not know survive it unchanged); a value set is the value read, also after a write and a read;
// every other line stays where it was.
#include <fuzzer/FuzzedDataProvider.h>
#include <unistd.h>

#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <string>
#include <vector>

#include "fuzz/fuzz_support.h"
#include "station/uplink/settings.h"

namespace {

// Made once and removed at exit; never freed, so the exit handler still finds its name.
const std::string& Folder() {
    static const std::string* folder = [] {
        // Memory-backed where there is one: every run writes and syncs the file twice.
        char shm[] = "/dev/shm/settings_fuzz_XXXXXX";
        char tmp[] = "/tmp/settings_fuzz_XXXXXX";
        const char* made = mkdtemp(shm);
        if (made == nullptr) made = mkdtemp(tmp);
        if (made == nullptr) fuzz::Fail("no temporary folder");
        auto* path = new std::string(made);
        std::atexit([] {
            std::remove((Folder() + "/tavrin.ini").c_str());
            rmdir(Folder().c_str());
        });
        return path;
    }();
    return *folder;
}

station::SettingsLines Reload(const station::SettingsLines& lines, const std::string& path) {
    std::string error;
    fuzz::Check(lines.Save(path, error), "writing the settings failed");
    station::SettingsLines again;
    fuzz::Check(again.Load(path, error), "reading the settings back failed");
    return again;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    FuzzedDataProvider in(data, size);
    const int keyChoice = in.ConsumeIntegralInRange(0, 3);
    std::string value = in.ConsumeRandomLengthString(80);
    std::string key = keyChoice == 0   ? station::kCallKey
                      : keyChoice == 1 ? station::kLocatorKey
                      : keyChoice == 2 ? "call"
                                       : in.ConsumeRandomLengthString(16);
    const std::string content = in.ConsumeRemainingBytesAsString();

    const std::string path = Folder() + "/tavrin.ini";
    if (std::FILE* f = std::fopen(path.c_str(), "wb")) {
        std::fwrite(content.data(), 1, content.size(), f);
        std::fclose(f);
    } else {
        fuzz::Fail("cannot write the input file");
    }
    station::SettingsLines lines;
    std::string error;
    fuzz::Check(lines.Load(path, error), "reading the settings failed");
    fuzz::Check(Reload(lines, path).Lines() == lines.Lines(),
                "lines changed on their way through a write and a read");

    // What the station writes: a key without "=" or line breaks, a value without line breaks.
    // A key that starts with a byte-order mark would be read past as the file's mark.
    if (key.empty() || key.find_first_of("=\r\n") != std::string::npos ||
        key.starts_with("\xEF\xBB\xBF"))
        return 0;
    std::erase_if(value, [](char c) { return c == '\r' || c == '\n'; });
    const std::vector<std::string> before = lines.Lines();
    lines.SetValue(key, value);
    if (value.empty()) return 0;
    fuzz::Check(lines.Value(key) == value, "the value set is not the value read");
    const std::vector<std::string>& after = lines.Lines();
    std::size_t changed = 0;
    for (std::size_t i = 0; i < before.size() && i < after.size(); ++i)
        changed += before[i] != after[i];
    fuzz::Check(changed <= 1 && after.size() - before.size() <= 1 &&
                    (after.size() == before.size() || changed == 0),
                "setting one key touched other lines");
    fuzz::Check(Reload(lines, path).Value(key) == value, "the value set did not survive a write");
    return 0;
}
