// SPDX-License-Identifier: MIT
// Parts of the OS layer shared by every backend; no Qt here, the Win32 check builds it alone.
#include "sys/oslayer_p.h"

namespace ravix {
namespace oslayer {

OsLayer::~OsLayer() = default;

std::wstring quoteWindowsArgument(const std::wstring &arg)
{
    if (!arg.empty() && arg.find_first_of(L" \t\n\v\"") == std::wstring::npos)
        return arg;
    // Backslashes are literal except before a quote, where each one must be doubled; they
    // are copied as they come, so only the doubling and the quote's own escape are added.
    std::wstring out = L"\"";
    std::size_t backslashes = 0;
    for (wchar_t c : arg) {
        if (c == L'\\') {
            ++backslashes;
        } else if (c == L'"') {
            out.append(backslashes + 1, L'\\');
            backslashes = 0;
        } else {
            backslashes = 0;
        }
        out += c;
    }
    out.append(backslashes, L'\\');
    out += L'"';
    return out;
}

Bytes dwordBytes(std::uint32_t v)
{
    Bytes b(4);
    for (int i = 0; i < 4; ++i)
        b[i] = static_cast<unsigned char>(v >> (8 * i));
    return b;
}

Bytes qwordBytes(std::uint64_t v)
{
    Bytes b(8);
    for (int i = 0; i < 8; ++i)
        b[i] = static_cast<unsigned char>(v >> (8 * i));
    return b;
}

} // namespace oslayer
} // namespace ravix
