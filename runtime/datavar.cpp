#include "mvb/datavar.h"

#include <cmath>
#include <cstring>
#include <limits>
#include <type_traits>

#include "utf8_internal.h"
#include "value_text.h"

using mvb::text::parseBool;
using mvb::text::parseInt64;
using mvb::text::parseReal;

// The inline copy and swap move the non-string kinds' storage as raw bytes.
static_assert(std::is_trivially_copyable_v<MvbDate>);

// Plug-ins built when assignKnownUtf8() and assignConverted() were not inline call the
// library's copies: taking their addresses here makes the library hold them.
[[gnu::used]] constexpr void (MvbDatavar::*kExportedAssignKnownUtf8)(std::string_view) =
    &MvbDatavar::assignKnownUtf8;
[[gnu::used]] constexpr bool (MvbDatavar::*kExportedAssignConverted)(std::string_view, int) =
    &MvbDatavar::assignConverted;

MvbDatavar::~MvbDatavar() = default;

void MvbDatavar::assign(bool value) noexcept {
    type_ = mvbTypeBoolean;
    bool_ = value;
}

void MvbDatavar::assign(int64_t value) noexcept {
    type_ = mvbTypeInteger;
    int_ = value;
}

void MvbDatavar::assign(double value) noexcept {
    type_ = mvbTypeReal;
    real_ = value;
    realText_ = false;
}

void MvbDatavar::assign(const char* text) {
    if (text == nullptr) {
        setNull();
        return;
    }
    assign(text, std::strlen(text));
}

void MvbDatavar::assign(const char* bytes, size_t byteCount) {
    if (bytes == nullptr) {
        setNull();
        return;
    }
    text_.assign(bytes, byteCount);
    type_ = mvbTypeString;
    knownUtf8_ = false;
}

void MvbDatavar::assign(const MvbDate& date) noexcept {
    type_ = mvbTypeDate;
    date_ = date;
}

namespace {

bool fail(bool* error) noexcept {
    if (error != nullptr) {
        *error = true;
    }
    return false;
}

// 2^63 as a double: every double below it (and at least -2^63) fits an int64_t.
constexpr double kTwo63 = 9223372036854775808.0;

bool realToInt64(double value, int64_t* out) noexcept {
    if (!(value >= -kTwo63 && value < kTwo63) || std::trunc(value) != value) {
        return false;
    }
    *out = static_cast<int64_t>(value);
    return true;
}

}  // namespace

bool MvbDatavar::asBool(bool* error) const noexcept {
    switch (type_) {
        case mvbTypeNull:
            return false;
        case mvbTypeBoolean:
            return bool_;
        case mvbTypeInteger:
            return int_ != 0;
        case mvbTypeReal:
            return real_ != 0.0;
        case mvbTypeString: {
            bool value = false;
            if (parseBool(text_, &value)) {
                return value;
            }
            return fail(error);
        }
        default:
            return fail(error);
    }
}

int64_t MvbDatavar::asInt64(bool* error) const noexcept {
    int64_t value = 0;
    switch (type_) {
        case mvbTypeNull:
            return 0;
        case mvbTypeBoolean:
            return bool_ ? 1 : 0;
        case mvbTypeInteger:
            return int_;
        case mvbTypeReal:
            if (realToInt64(real_, &value)) {
                return value;
            }
            break;
        case mvbTypeString:
            if (parseInt64(text_, &value)) {
                return value;
            }
            break;
        default:
            break;
    }
    fail(error);
    return 0;
}

int MvbDatavar::asInt(bool* error) const noexcept {
    bool failed = false;
    const int64_t value = asInt64(&failed);
    if (failed || value < std::numeric_limits<int>::min() ||
        value > std::numeric_limits<int>::max()) {
        fail(error);
        return 0;
    }
    return static_cast<int>(value);
}

double MvbDatavar::asReal(bool* error) const noexcept {
    switch (type_) {
        case mvbTypeNull:
            return 0.0;
        case mvbTypeBoolean:
            return bool_ ? 1.0 : 0.0;
        case mvbTypeInteger:
            return static_cast<double>(int_);
        case mvbTypeReal:
            return real_;
        case mvbTypeString: {
            double value = 0.0;
            if (parseReal(text_, &value)) {
                return value;
            }
            break;
        }
        default:
            break;
    }
    fail(error);
    return 0.0;
}

MvbString MvbDatavar::asString() const {
    if (type_ == mvbTypeString) {
        return MvbString(std::string_view(text_));
    }
    char buffer[64];
    const int n = formatText(buffer, sizeof buffer);
    return MvbString(std::string_view(buffer, static_cast<size_t>(n)));
}

int MvbDatavar::formatText(char* buffer, int capacity) const noexcept {
    if (buffer == nullptr || capacity <= 0) {
        return 0;
    }
    if (type_ == mvbTypeString) {
        // Cut on a character boundary, so that a short buffer never holds half a character.
        const size_t n = mvb::utf8::cutAtBoundary(text_, static_cast<size_t>(capacity) - 1);
        std::memcpy(buffer, text_.data(), n);
        buffer[n] = '\0';
        return static_cast<int>(n);
    }
    if (type_ == mvbTypeDate) {
        return date_.format(buffer, capacity);
    }
    // A buffer that holds every such text is written directly; a shorter one gets a cut copy.
    char local[kScalarTextRoom];
    char* const out = capacity >= kScalarTextRoom ? buffer : local;
    int n = formatScalar(out);
    if (n >= capacity) {
        n = capacity - 1;
    }
    if (out == local) std::memcpy(buffer, local, static_cast<size_t>(n));
    buffer[n] = '\0';
    return n;
}

bool MvbDatavar::setType(int type) {
    if (type_ == type) {
        return true;
    }
    if (type_ == mvbTypeNull) {
        return false;
    }
    bool failed = false;
    switch (type) {
        case mvbTypeBoolean: {
            const bool value = asBool(&failed);
            if (!failed) {
                assign(value);
            }
            break;
        }
        case mvbTypeInteger: {
            const int64_t value = asInt64(&failed);
            if (!failed) {
                assign(value);
            }
            break;
        }
        case mvbTypeReal: {
            const double value = asReal(&failed);
            if (!failed) {
                assign(value);
            }
            break;
        }
        case mvbTypeString: {
            char buffer[64];
            const int n = formatText(buffer, sizeof buffer);
            assign(buffer, static_cast<size_t>(n));
            return true;
        }
        default:
            return false;
    }
    if (failed) {
        setNull();
        return false;
    }
    return true;
}

void MvbDatavar::truncate(int length, int /*byteSize*/) noexcept {
    // The byte size is the room of `length` characters in the file's encoding, where they
    // always fit; cutting to the characters is all that is needed.
    if (type_ != mvbTypeString || length < 0 || text_.size() <= static_cast<size_t>(length)) {
        return;
    }
    text_.truncate(mvb::utf8::charsToBytes(text_, static_cast<size_t>(length)));
}

const void* MvbDatavar::getRaw(int* size) const noexcept {
    int bytes = 0;
    const void* data = nullptr;
    switch (type_) {
        case mvbTypeBoolean:
            data = &bool_;
            bytes = sizeof bool_;
            break;
        case mvbTypeInteger:
            data = &int_;
            bytes = sizeof int_;
            break;
        case mvbTypeReal:
            data = &real_;
            bytes = sizeof real_;
            break;
        case mvbTypeDate:
            data = &date_;
            bytes = sizeof date_;
            break;
        case mvbTypeString:
            data = text_.c_str();
            bytes = static_cast<int>(text_.size()) + 1;
            break;
        default:
            break;
    }
    if (size != nullptr) {
        *size = bytes;
    }
    return data;
}
