#pragma once

// The public test data kept in the repository (data/). A file that is missing fails the
// test that reads it, naming its path; it never stops a test program from listing its tests.

#include <filesystem>
#include <fstream>
#include <stdexcept>
#include <string>

#include <nlohmann/json.hpp>

namespace testdata {

/// The path of `relative` inside the test data folder.
inline std::string path(const std::string& relative) {
    return std::string(TEXT_TESTDATA_DIR) + "/" + relative;
}

/// The parsed JSON file at `file`; throws, naming the path, when it is missing or not JSON.
inline nlohmann::json readJson(const std::string& file) {
    std::ifstream in(file);
    if (!in) throw std::runtime_error("missing test data: " + file);
    try {
        return nlohmann::json::parse(in);
    } catch (const nlohmann::json::exception& e) {
        throw std::runtime_error("test data is not JSON: " + file + " (" + e.what() + ")");
    }
}

}  // namespace testdata
