#pragma once

#include <string>
#include <string_view>

#include "mvb/export.h"

/// A UTF-8 text string. Lengths and positions of length(), mid() count code points;
/// cStrSize() counts bytes. The string always owns a copy of its text.
class MVB_API MvbString {
  public:
    MvbString() = default;
    MvbString(const MvbString& other) = default;
    MvbString(MvbString&& other) noexcept = default;
    /// Copies `text`. `literal` tells that the text outlives the string; it is accepted for
    /// callers that know it, and the text is copied either way.
    MvbString(const char* text, bool literal);
    explicit MvbString(std::string_view text);
    virtual ~MvbString();

    MvbString& operator=(const MvbString& other) = default;
    MvbString& operator=(MvbString&& other) noexcept = default;
    MvbString& operator=(const char* text);

    void assign(const char* text);
    void assign(const char* bytes, size_t byteCount);
    void assign(std::string_view text) { assign(text.data(), text.size()); }

    /// NUL-terminated text, valid until the string changes.
    const char* asCstr() const noexcept { return text_.c_str(); }
    /// Byte size including the terminating NUL.
    int cStrSize() const noexcept { return static_cast<int>(text_.size()) + 1; }
    /// Length in characters (code points).
    int length() const noexcept;
    bool empty() const noexcept { return text_.empty(); }
    std::string_view view() const noexcept { return text_; }
    explicit operator std::string_view() const noexcept { return text_; }

    /// `count` characters from character `start`; -1 means up to the end.
    MvbString mid(int start, int count) const;
    /// 0 when equal; otherwise negative or positive as a byte comparison orders them.
    /// `ignoreCase` folds ASCII letters.
    int compare(const char* text, bool ignoreCase) const noexcept;
    /// Removes blanks and tabs at the start (`left`) and/or at the end (`right`).
    void trim(bool left, bool right);

    bool operator==(const MvbString& other) const noexcept { return text_ == other.text_; }

  private:
    std::string text_;
};
