#pragma once

#include <cstddef>
#include <string_view>

#include "mvb/export.h"

/// How far apart two names are, for suggesting the name a user probably meant: the count of
/// inserted, deleted and replaced characters and of swaps of two neighbours ("FILEANME" is one
/// edit from "FILENAME"), with ASCII letters compared without case. Every suggestion of a
/// closest name (properties, fields, steps, encodings, commands) measures with this one.
MVB_API size_t mvbNameDistance(std::string_view a, std::string_view b);
