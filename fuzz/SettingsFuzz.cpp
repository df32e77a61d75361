// libFuzzer target: the settings file parser. Any text parses without fault, and what a parse
// accepted survives a write and a second parse unchanged.
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <string>

#include "SettingsStore.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    const std::string text(reinterpret_cast<const char*>(data), size);
    tessaro::SettingsMap first;
    if (!tessaro::ParseSettings(text, &first)) return 0;
    tessaro::SettingsMap second;
    if (!tessaro::ParseSettings(tessaro::SerializeSettings(first), &second)) abort();
    if (first != second) abort();
    return 0;
}
