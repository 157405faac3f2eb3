// The JSON documents the program writes for scripts (list-packages --json, check-requirements
// --json): one shape for their start and one way of writing them. Their layout is published as
// JSON Schema files in docs/schema/.
#pragma once

#include <nlohmann/json.hpp>
#include <string>

namespace tessel_installer::json_document {

// Members keep the order they are set in, so every document reads "schema" and "program" first.
using Document = nlohmann::ordered_json;

// The version of the documents' layout; it changes only when a reader would have to change.
inline constexpr int SCHEMA_VERSION = 1;

// A document holding its first two members: "schema" and "program" (name and version).
Document start_document();

// The document as one line and a line break. Everything outside ASCII is written as a \u escape
// and bytes that are not UTF-8 become U+FFFD, so the line is valid JSON whatever the facts held
// and cannot drive a terminal it is shown on.
std::string document_text(const Document& document);

}  // namespace tessel_installer::json_document
