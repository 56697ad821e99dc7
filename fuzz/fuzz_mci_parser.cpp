// Feeds arbitrary text to the MCI command parser. Besides not crashing, an accepted
// command must name its device and carry numbers the device's 32-bit interface allows.

#include "platform/mci/MciCommand.h"

#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <string_view>

using namespace sequora::platform;
using namespace sequora::platform::mci;

namespace {

constexpr int64_t kMaxInteger = 0xFFFFFFFFLL;
constexpr int64_t kMaxSigned = 0x7FFFFFFFLL;

[[noreturn]] void broken(const char* what)
{
    std::fprintf(stderr, "fuzz_mci_parser: %s\n", what);
    std::abort();
}

bool inRange(int64_t v) { return v >= 0 && v <= kMaxInteger; }

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, std::size_t size)
{
    const std::string_view text(reinterpret_cast<const char*>(data), size);
    const ParseResult result = parseCommand(text);
    if (result.code != kMciOk)
        return 0;
    const Command& cmd = result.command;
    if (cmd.alias.empty())
        broken("an accepted command without a device name");
    if (cmd.verb == Verb::Open && cmd.path.empty())
        broken("an accepted open without a file");
    if ((cmd.from && !inRange(*cmd.from)) || (cmd.to && !inRange(*cmd.to)) || !inRange(cmd.seekTo))
        broken("a number beyond 32 bits accepted");
    if (cmd.number < -kMaxSigned || cmd.number > kMaxInteger)
        broken("a setting beyond 32 bits accepted");
    if (cmd.part != kAllParts && !inRange(cmd.part))
        broken("a part number beyond 32 bits accepted");
    const bool partSetting = cmd.setting == Setting::Mute || cmd.setting == Setting::Solo;
    if (cmd.part == kAllParts && (cmd.verb != Verb::Set || !partSetting))
        broken("\"all\" parts accepted where only set mute and solo take it");
    return 0;
}
