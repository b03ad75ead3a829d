#pragma once

#include <charconv>
#include <concepts>
#include <cstddef>
#include <cstdint>
#include <string_view>
#include <type_traits>

namespace trelvo::diag {

/// A log line built in a fixed buffer, so that real-time threads can compose lines without
/// allocating. Text beyond the capacity is cut off.
class LineText {
public:
    static constexpr std::size_t kCapacity = 480;

    LineText() = default;
    explicit LineText(std::string_view text) { append(text); }

    LineText& append(std::string_view text) noexcept {
        const std::size_t room = kCapacity - length;
        const std::size_t take = text.size() < room ? text.size() : room;
        for (std::size_t i = 0; i < take; ++i) buffer[length + i] = text[i];
        length += take;
        buffer[length] = '\0';
        return *this;
    }
    LineText& append(char c) noexcept { return append(std::string_view(&c, 1)); }

    template <std::integral Number>
    requires(!std::same_as<Number, char> && !std::same_as<Number, bool>) LineText& append(Number number) noexcept {
        char digits[24];
        const auto result = std::to_chars(digits, digits + sizeof digits, number);
        return append(std::string_view(digits, static_cast<std::size_t>(result.ptr - digits)));
    }

    /// A number with a fixed count of decimals, as "%.5f" would write it.
    LineText& appendFixed(double number, int decimals) noexcept {
        char digits[64];
        const auto result = std::to_chars(digits, digits + sizeof digits, number, std::chars_format::fixed, decimals);
        if (result.ec != std::errc{}) return append("?");
        return append(std::string_view(digits, static_cast<std::size_t>(result.ptr - digits)));
    }

    /// A pointer as a decimal number.
    LineText& appendPointer(const void* pointer) noexcept { return append(reinterpret_cast<std::uintptr_t>(pointer)); }

    /// Text between double quotes.
    LineText& appendQuoted(std::string_view text) noexcept { return append('"').append(text).append('"'); }

    template <class Value> LineText& operator<<(const Value& value) noexcept {
        if constexpr (std::is_convertible_v<const Value&, std::string_view>)
            return append(std::string_view(value));
        else
            return append(value);
    }

    std::string_view view() const noexcept { return {buffer, length}; }
    const char* c_str() const noexcept { return buffer; }
    std::size_t size() const noexcept { return length; }
    bool empty() const noexcept { return length == 0; }
    void clear() noexcept {
        length = 0;
        buffer[0] = '\0';
    }

private:
    char buffer[kCapacity + 1] = {};
    std::size_t length = 0;
};

} // namespace trelvo::diag
