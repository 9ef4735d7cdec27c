// Feeds arbitrary bytes to the settings file reader, as a hand-edited or damaged file would.
// Besides not crashing: a rejected text leaves an empty document and names a line that exists;
// an accepted one is written back, and that text reads as the same document and writes as the
// same text again.

#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <string_view>

#include "settings/registry_text.h"

namespace {

void check(bool condition)
{
    if (!condition)
        __builtin_trap();
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* bytes, std::size_t size)
{
    using namespace hopwise;
    const std::string_view text(reinterpret_cast<const char*>(bytes), size);
    RegistryDocument document;
    RegistryParseError error;
    if (!ParseRegistryText(text, document, error)) {
        const auto lines = static_cast<std::size_t>(std::count(text.begin(), text.end(), '\n'));
        check(error.line >= 1 && error.line <= lines + 1);
        check(!error.message.empty());
        check(document == RegistryDocument());
        return 0;
    }
    const std::optional<std::string> written = SerializeRegistryText(document);
    check(written.has_value());
    RegistryDocument again;
    check(ParseRegistryText(*written, again, error));
    check(again == document);
    check(SerializeRegistryText(again) == written);
    return 0;
}
