#include "tessel_installer/json_document.hpp"

#include "tessel_installer/config.hpp"

namespace tessel_installer::json_document {

Document start_document() {
    Document document;
    document["schema"] = SCHEMA_VERSION;
    document["program"] = {{"name", "tessel-installer"},
                           {"version", std::string(config::PROGRAM_VERSION)}};
    return document;
}

std::string document_text(const Document& document) {
    return document.dump(-1, ' ', /*ensure_ascii=*/true, Document::error_handler_t::replace) + "\n";
}

}  // namespace tessel_installer::json_document
