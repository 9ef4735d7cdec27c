// Feeds arbitrary request blocks to the block reader, and arbitrary stack answers to SendEcho's
// record handling: a parsed request must lie inside its block, and the records SendEcho hands
// back must only ever point inside the caller's buffer.

#include <cstddef>
#include <cstdint>
#include <cstring>
#include <vector>

#include "probe/echo_service.h"
#include "probe/echo_stack.h"

namespace {

void check(bool condition)
{
    if (!condition)
        __builtin_trap();
}

bool inside(const std::uint8_t* part, std::size_t length, const std::uint8_t* whole,
            std::size_t size)
{
    return length == 0 || (part >= whole && part + length <= whole + size);
}

// Answers with the fuzzer's bytes as the reply buffer's contents.
class ReplayStack final : public hopwise::EchoStack {
public:
    const std::uint8_t* bytes = nullptr;
    std::size_t size = 0;
    std::uint32_t control(std::uint32_t, std::uint32_t, const void*, std::uint32_t*, void* reply,
                          std::uint32_t* replyLength) override
    {
        std::memcpy(reply, bytes, size < *replyLength ? size : *replyLength);
        return 0;
    }
    hopwise::IcmpSocketKind permittedKind() override { return hopwise::IcmpSocketKind::Raw; }
};

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* bytes, std::size_t size)
{
    using namespace hopwise;
    if (const auto request = ParseEchoRequest(bytes, static_cast<std::uint32_t>(size))) {
        check(inside(request->data.data(), request->data.size(), bytes, size));
        check(inside(request->options.data(), request->options.size(), bytes, size));
    }

    static ReplayStack stack;
    static const bool installed = (InstallEchoStack(&stack), true);
    (void)installed;
    stack.bytes = bytes;
    stack.size = size;
    const std::size_t replySize = size < 28 ? 28 : size;
    std::vector<EchoReply> buffer(replySize / sizeof(EchoReply) + 1);
    auto* base = reinterpret_cast<const std::uint8_t*>(buffer.data());
    const std::uint32_t count = SendEcho(1, 0, nullptr, 0, nullptr, buffer.data(),
                                         static_cast<std::uint32_t>(replySize), 100);
    check(count * sizeof(EchoReply) <= replySize);
    for (std::uint32_t i = 0; i < count; ++i) {
        const EchoReply& record = buffer[i];
        check(inside(record.data(), record.data() ? record.dataSize : 0, base, replySize));
        check(inside(record.optionBytes(), record.optionBytes() ? record.options.optionsSize : 0,
                     base, replySize));
    }
    return 0;
}
