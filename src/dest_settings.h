#pragma once

#include "mvb/string.h"
#include "mvb/types.h"
#include "step_properties.h"

/// The settings of the destinations that write a text file: which file and how it is opened.
struct DestFileSettings {
    MvbString fileName;          ///< FILENAME: the file to write
    bool byteOrderMark = false;  ///< BYTE_ORDER_MARK: write a byte-order mark first
    int encoding = -1;           ///< ENCODING: the file's encoding number; -1 UTF-8
    bool append = false;         ///< APPEND: add to the end of an existing file
    bool inPlace = false;        ///< IN_PLACE: write straight into the file, not at the end
};

/// FIELDS of the destinations that name their columns: the input field and its heading.
inline constexpr PropertyColumn kDestNamedFieldColumns[] = {
    {"FIELDNAME", mvbTypeString},
    {"OUTPUTNAME", mvbTypeString},
};

// The property rows of DestFileSettings, the same in both text destinations' tables.

template <class Settings>
inline constexpr PropertyRow<Settings> kDestFileNameRow{.name = "FILENAME",
                                                        .kind = PropertyKind::Text,
                                                        .message = 304,
                                                        .required = true,
                                                        .text = &DestFileSettings::fileName,
                                                        .description = "the file to write",
                                                        .fileRole = kStepFileAppended,
                                                        .fileCondition = "APPEND"};

template <class Settings>
inline constexpr PropertyRow<Settings> kDestByteOrderMarkRow{
    .name = "BYTE_ORDER_MARK",
    .kind = PropertyKind::Boolean,
    .declaresDefault = true,
    .flag = &DestFileSettings::byteOrderMark,
    .description = "write the encoding's byte-order mark at the start of the file"};

template <class Settings>
inline constexpr PropertyRow<Settings> kDestEncodingRow{
    .name = "ENCODING",
    .kind = PropertyKind::Encoding,
    .message = 801,
    .declaresDefault = true,
    .number = &DestFileSettings::encoding,
    .description = "the file's encoding: a number or a name such as UTF-8; -1 is UTF-8"};

template <class Settings>
inline constexpr PropertyRow<Settings> kDestAppendRow{
    .name = "APPEND",
    .kind = PropertyKind::Boolean,
    // Not read leniently: a value taken for false would replace the file it means to add to.
    .message = 832,
    .declaresDefault = true,
    .flag = &DestFileSettings::append,
    .description = "add to the end of the file instead of replacing it"};

/// IN_PLACE, the same in every destination's table.
template <class Settings>
inline constexpr PropertyRow<Settings> kDestInPlaceRow{
    .name = "IN_PLACE",
    .kind = PropertyKind::Boolean,
    .declaresDefault = true,
    .flag = &Settings::inPlace,
    .description =
        "write straight into the file (for readers that follow it) instead of under a "
        "temporary name renamed into place when the step finishes"};
