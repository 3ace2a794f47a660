#pragma once

// The job that `textjob convert` runs: infer's source step, and a destination made from the
// conversion's options.

#include <nlohmann/json.hpp>
#include <stdexcept>
#include <string>
#include <vector>

#include "command_line.h"

namespace textjob {

/// A conversion that cannot be done as asked; the text says why and what to do.
class ConvertError : public std::runtime_error {
  public:
    using std::runtime_error::runtime_error;
};

/// What OUT becomes: "csv", "tsv", "fixed" or "html", from --to, else from OUT's name (a
/// ".gz" ending left aside); standard output is csv unless --to says otherwise. Throws
/// ConvertError for a name that says none of them.
std::string outputKind(const ConvertRequest& request);

/// Whether IN is read as fixed-width text: with --fixed, or when its name ends in ".fixed" (as
/// a conversion names what it writes), a ".gz" after it left aside.
bool readsFixedWidth(const ConvertRequest& request);

/// Whether `a` and `b` name one existing file.
bool sameFile(const std::string& a, const std::string& b);
/// Whether `a` and `b` name one file, `b` perhaps not made yet.
bool samePlace(const std::string& a, const std::string& b);

/// The text of a delimiter as given on the command line: "\t" and "tab" (any case) stand for
/// a tab; anything else is taken as it is.
std::string delimiterArgument(const std::string& text);

/// The character a delimiter given on the command line (`option` `text`) stands for: one
/// character, \t or tab, or a 0x code. Throws ConvertError for any other text, and for the
/// quote mark or a line end, which would leave no file readable.
int delimiterCode(const std::string& option, const std::string& text);

/// What the destination may use beyond the properties every version has.
struct DestinationFeatures {
    bool quoteWhenNeeded = false;  ///< DEST_DELIMTEXT declares QUOTE_WHEN_NEEDED
};

/// The conversion's job: infer's source step as it is, then a destination of `kind` writing
/// `request.output` with the columns picked, ordered and renamed as asked. `inferred` is
/// infer's job for that kind (its "out" step names each column's field and heading or width).
/// Throws ConvertError for a column that --select or --rename names but the input lacks.
nlohmann::ordered_json convertJob(const nlohmann::ordered_json& inferred,
                                  const ConvertRequest& request, const std::string& kind,
                                  const DestinationFeatures& features);

}  // namespace textjob
