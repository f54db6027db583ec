// A pugixml writer that collects everything written into one string.
#pragma once

#include <pugixml.hpp>

#include <string>

class xml_string_writer : public pugi::xml_writer {
public:
    std::string result;

    void write(const void *data, size_t size) override
    {
        result.append(static_cast<const char *>(data), size);
    }
};
