#include "inspect/Json.h"

std::string jsonText(const JsonDocument& document)
{
    return document.dump(2, ' ', false, nlohmann::json::error_handler_t::replace) + "\n";
}
