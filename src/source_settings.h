#pragma once

#include <source_location>

#include "mvb/string.h"
#include "source_file_set.h"
#include "step_messages.h"
#include "step_properties.h"

/// The settings both sources share: which files they read and how they open them.
struct SourceFileSettings {
    MvbString fileName;          ///< FILENAME: the file, or a pattern of several files
    bool byteOrderMark = false;  ///< BYTE_ORDER_MARK: honour a byte-order mark
    int encoding = -1;           ///< ENCODING: the input's encoding number; -1 detects it
    MvbString fileNameField;     ///< FILENAME_FIELD: name of a field holding the file name
    bool replaceNulls = false;   ///< REPLACE_NULLS: read each NUL character as a blank
};

/// Selects the files of `settings` and opens the first; false after reporting why (message 97
/// at `where` when a pattern matches nothing and the listing says nothing).
[[nodiscard]] bool openSourceFiles(SourceFileSet& files, const SourceFileSettings& settings,
                                   const StepMessages& messages,
                                   std::source_location where = std::source_location::current());

// The property rows of those settings, the same in both sources' tables.

template <class Settings>
inline constexpr PropertyRow<Settings> kSourceFileNameRow{
    .name = "FILENAME",
    .kind = PropertyKind::Text,
    .message = 726,
    .required = true,
    .text = &SourceFileSettings::fileName,
    .description = "the file to read, or a pattern that selects several files",
    .fileRole = kStepFilePatternRead};

template <class Settings>
inline constexpr PropertyRow<Settings> kSourceByteOrderMarkRow{
    .name = "BYTE_ORDER_MARK",
    .kind = PropertyKind::Boolean,
    .declaresDefault = true,
    .flag = &SourceFileSettings::byteOrderMark,
    .description = "honour a byte-order mark at the start of the file"};

template <class Settings>
inline constexpr PropertyRow<Settings> kSourceEncodingRow{
    .name = "ENCODING",
    .kind = PropertyKind::Encoding,
    .message = 801,
    .declaresDefault = true,
    .number = &SourceFileSettings::encoding,
    .description = "the input's encoding: a number or a name such as UTF-8; -1 detects it"};

template <class Settings>
inline constexpr PropertyRow<Settings> kSourceFileNameFieldRow{
    .name = "FILENAME_FIELD",
    .kind = PropertyKind::Text,
    .text = &SourceFileSettings::fileNameField,
    .description = "when set, the name of an extra field holding each row's file name"};

template <class Settings>
inline constexpr PropertyRow<Settings> kSourceReplaceNullsRow{
    .name = "REPLACE_NULLS",
    .kind = PropertyKind::Boolean,
    .flag = &SourceFileSettings::replaceNulls,
    .description = "read each NUL character as a blank"};
