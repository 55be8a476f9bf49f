#include "engine/ItemText.h"

#include <algorithm>
#include <cctype>
#include <cstdarg>
#include <cstdio>

#include "engine/Globals.h"

namespace {

const char* const kItemTextTag = "RkSnapLSI::parseJsonString";

bool containsNoCase(const std::string& haystack, const char* needle) {
    std::string lower(haystack);
    std::transform(lower.begin(), lower.end(), lower.begin(),
                   [](unsigned char c) { return static_cast<char>(std::tolower(c)); });
    return lower.find(needle) != std::string::npos;
}

// Name of the item whose ':' is at colon: the text after the previous ',' or '{'.
std::string itemNameBefore(const std::string& text, size_t colon) {
    size_t start = text.find_last_of(",{", colon == 0 ? 0 : colon - 1);
    start = (start == std::string::npos || start >= colon) ? 0 : start + 1;
    if (colon == 0) start = 0;
    return text.substr(start, colon - start);
}

// Logs through the device when there is one, else through the module logger.
void logLine(RKSO::SnapInfo* info, const char* format, ...) __attribute__((format(printf, 2, 3)));

void logLine(RKSO::SnapInfo* info, const char* format, ...) {
    char text[8192];
    va_list args;
    va_start(args, format);
    int n = std::vsnprintf(text, sizeof text, format, args);
    va_end(args);
    if (n < 0) text[0] = '\0';
    if (info)
        info->logFormat(0, kItemTextTag, "%s", text);
    else
        o_logger.DebugLvl(kItemTextTag, 2, "%s", text);
}

}  // namespace

namespace rkso {

bool isSecretItemName(const std::string& name) {
    return containsNoCase(name, "password") || containsNoCase(name, "secret");
}

std::string maskSecretItems(const std::string& text) {
    std::string out;
    size_t pos = 0;
    while (pos < text.size()) {
        size_t colon = text.find(':', pos);
        if (colon == std::string::npos) break;
        if (!isSecretItemName(itemNameBefore(text, colon))) {
            out.append(text, pos, colon + 1 - pos);
            pos = colon + 1;
            continue;
        }
        out.append(text, pos, colon + 1 - pos);
        out += "****";
        // The secret runs to the next ',' that starts another name:value item; a ','
        // inside the secret must not reveal its tail.
        size_t end = std::string::npos;
        size_t nextColon = text.find(':', colon + 1);
        for (size_t comma = text.find(',', colon + 1); comma != std::string::npos;) {
            size_t nextComma = text.find(',', comma + 1);
            while (nextColon != std::string::npos && nextColon < comma)
                nextColon = text.find(':', nextColon + 1);
            if (nextColon != std::string::npos && nextColon < nextComma) {
                end = comma;
                break;
            }
            comma = nextComma;
        }
        if (end == std::string::npos) {
            size_t brace = text.rfind('}');
            end = (brace != std::string::npos && brace > colon) ? brace : text.size();
        }
        pos = end;
    }
    if (pos < text.size()) out.append(text, pos, std::string::npos);
    return out;
}

}  // namespace rkso

bool parseJsonString(RKSO::SnapInfo* info, std::string text, std::string item, std::string& value) {
    if (text.empty() || item.empty()) {
        std::string shown = rkso::maskSecretItems(text);
        logLine(info,
                "Either the parse string or the item to search is empty. Parse string[%s] Item "
                "to search[%s]",
                shown.c_str(), item.c_str());
        return false;
    }
    size_t at = text.find(item);
    if (at == std::string::npos) {
        std::string shown = rkso::maskSecretItems(text);
        logLine(info, "The item being requested [%s] is not in Json string [%s]", item.c_str(),
                shown.c_str());
        return false;
    }
    size_t colon = text.find(':', at);
    if (colon == std::string::npos) {
        logLine(info, "Name-value separator character is not present.");
        return false;
    }
    size_t end = text.find(',', at);
    if (end == std::string::npos) {
        end = text.find('}', colon + 1);
        if (end == std::string::npos) {
            logLine(info, "Item separator character is not present");
            return false;
        }
    } else if (end < colon) {
        logLine(info, "No value present for item %s", item.c_str());
        return false;
    }
    value = text.substr(colon + 1, std::min(end - colon - 1, kMaxItemValueChars));
    // The match may sit inside a longer name ("host" in "hostPassword"): judge the
    // name that owns the ':' as well as the one asked for.
    if (rkso::isSecretItemName(item) || rkso::isSecretItemName(itemNameBefore(text, colon)))
        return true;
    logLine(info, "Item Name:Item Value [%s:%s]", item.c_str(), value.c_str());
    return true;
}
