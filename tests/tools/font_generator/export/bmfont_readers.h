// Readers of the four BMFont flavours, written from the format's description for the export
// tests, and the numbers of a font description they are compared with.
#pragma once

#include <gtest/gtest.h>

#include <cctype>
#include <cstdint>
#include <cstdio>
#include <cstring>
#include <map>
#include <string>
#include <vector>

// One descriptor as any flavour says it: values as text (strings unescaped, lists as "0,0").
struct read_font_t
{
    std::map<std::string, std::string> info;
    std::map<std::string, std::string> common;
    std::vector<std::string> pages;
    std::map<std::string, std::string> distance_field;  // empty: none
    std::vector<std::map<std::string, long long>> chars;
    std::vector<std::vector<long long>> kernings;  // first, second, amount
};

// ---- text: "tag key=value key="string" ..." lines

inline std::map<std::string, std::string> text_pairs(const std::string& line, std::string* tag)
{
    std::map<std::string, std::string> pairs;
    size_t at = line.find(' ');
    *tag = line.substr(0, at);
    while (at != std::string::npos && at < line.size())
    {
        while (at < line.size() && line[at] == ' ')
            ++at;
        const size_t equals = line.find('=', at);
        if (equals == std::string::npos)
            break;
        const std::string key = line.substr(at, equals - at);
        size_t end;
        std::string value;
        if (line[equals + 1] == '"')
        {
            end = line.find('"', equals + 2);
            value = line.substr(equals + 2, end - equals - 2);
            ++end;
        }
        else
        {
            end = line.find(' ', equals + 1);
            value = line.substr(equals + 1, end == std::string::npos ? end : end - equals - 1);
        }
        pairs[key] = value;
        at = end;
    }
    return pairs;
}

inline std::map<std::string, long long> as_numbers(const std::map<std::string, std::string>& pairs)
{
    std::map<std::string, long long> numbers;
    for (const auto& [key, value] : pairs)
        numbers[key] = std::stoll(value);
    return numbers;
}

inline read_font_t read_text_flavour(const std::string& text)
{
    read_font_t font;
    EXPECT_EQ(text.find('\r'), std::string::npos);
    EXPECT_NE(text.substr(0, 3), "\xEF\xBB\xBF");
    size_t chars_count = 0;
    size_t kernings_count = 0;
    for (size_t at = 0; at < text.size();)
    {
        const size_t end = text.find('\n', at);
        const std::string line = text.substr(at, end - at);
        at = end == std::string::npos ? text.size() : end + 1;
        std::string tag;
        auto pairs = text_pairs(line, &tag);
        if (tag == "info")
            font.info = pairs;
        else if (tag == "common")
            font.common = pairs;
        else if (tag == "page")
        {
            EXPECT_EQ(std::stoul(pairs["id"]), font.pages.size());
            font.pages.push_back(pairs["file"]);
        }
        else if (tag == "distanceField")
            font.distance_field = pairs;
        else if (tag == "chars")
            chars_count = std::stoul(pairs["count"]);
        else if (tag == "char")
            font.chars.push_back(as_numbers(pairs));
        else if (tag == "kernings")
            kernings_count = std::stoul(pairs["count"]);
        else if (tag == "kerning")
            font.kernings.push_back({ std::stoll(pairs["first"]), std::stoll(pairs["second"]),
                                      std::stoll(pairs["amount"]) });
        else
            ADD_FAILURE() << "unknown line '" << line << "'";
    }
    EXPECT_EQ(chars_count, font.chars.size());
    EXPECT_EQ(kernings_count, font.kernings.size());
    return font;
}

// ---- XML: elements with attributes, entities and character references

inline std::string xml_unescape(const std::string& text)
{
    std::string out;
    for (size_t i = 0; i < text.size(); ++i)
    {
        if (text[i] != '&')
        {
            out += text[i];
            continue;
        }
        const size_t end = text.find(';', i);
        const std::string entity = text.substr(i + 1, end - i - 1);
        i = end;
        if (entity == "amp") out += '&';
        else if (entity == "lt") out += '<';
        else if (entity == "gt") out += '>';
        else if (entity == "quot") out += '"';
        else if (entity == "apos") out += '\'';
        else if (entity[0] == '#')
            out += char(entity[1] == 'x' ? std::stoul(entity.substr(2), nullptr, 16)
                                         : std::stoul(entity.substr(1)));
        else
            ADD_FAILURE() << "unknown entity " << entity;
    }
    return out;
}

inline read_font_t read_xml_flavour(const std::string& text)
{
    read_font_t font;
    const std::string prolog = "<?xml version=\"1.0\"?>";
    EXPECT_EQ(text.substr(0, prolog.size()), prolog);
    std::vector<std::string> open;
    for (size_t at = text.find('<', prolog.size()); at != std::string::npos;
         at = text.find('<', at))
    {
        const size_t end = text.find('>', at);
        std::string element = text.substr(at + 1, end - at - 1);
        at = end;
        if (element[0] == '/')
        {
            EXPECT_EQ(open.back(), element.substr(1));
            open.pop_back();
            continue;
        }
        const bool empty = element.back() == '/';
        if (empty)
            element.pop_back();
        std::map<std::string, std::string> attributes;
        size_t i = element.find_first_of(" /");
        const std::string tag = element.substr(0, i);
        while (i != std::string::npos && (i = element.find_first_not_of(' ', i)) != std::string::npos)
        {
            const size_t equals = element.find('=', i);
            const size_t close = element.find('"', equals + 2);
            EXPECT_EQ(element[equals + 1], '"');
            attributes[element.substr(i, equals - i)] =
                xml_unescape(element.substr(equals + 2, close - equals - 2));
            i = close + 1;
        }
        if (!empty)
            open.push_back(tag);
        if (tag == "info") font.info = attributes;
        else if (tag == "common") font.common = attributes;
        else if (tag == "page")
        {
            EXPECT_EQ(std::stoul(attributes["id"]), font.pages.size());
            font.pages.push_back(attributes["file"]);
        }
        else if (tag == "distanceField") font.distance_field = attributes;
        else if (tag == "char") font.chars.push_back(as_numbers(attributes));
        else if (tag == "kerning")
            font.kernings.push_back({ std::stoll(attributes["first"]),
                                      std::stoll(attributes["second"]),
                                      std::stoll(attributes["amount"]) });
        else if (tag != "font" && tag != "pages" && tag != "chars" && tag != "kernings")
            ADD_FAILURE() << "unknown element " << tag;
        if (tag == "chars" || tag == "kernings")
            attributes.count("count") ? void() : void(ADD_FAILURE() << tag << " has no count");
    }
    EXPECT_TRUE(open.empty());
    return font;
}

// ---- JSON: a strict reader of values

struct json_value_t
{
    char kind = 'n';  // 'o' object, 'a' array, 's' string, 'd' number, 'n' null / literal
    std::string text;  // string unescaped, number as written
    std::vector<std::pair<std::string, json_value_t>> members;
    std::vector<json_value_t> elements;

    const json_value_t& operator[](const std::string& key) const
    {
        for (const auto& member : members)
            if (member.first == key)
                return member.second;
        static const json_value_t none;
        ADD_FAILURE() << "no member " << key;
        return none;
    }
};

class json_parser_t
{
public:
    explicit json_parser_t(const std::string& text) : m_text(text) {}
    bool parse(json_value_t* value)
    {
        return read_value(value) && (skip(), m_at == m_text.size());
    }

private:
    void skip()
    {
        while (m_at < m_text.size() && std::isspace(static_cast<unsigned char>(m_text[m_at])))
            ++m_at;
    }
    bool take(char c)
    {
        skip();
        if (m_at < m_text.size() && m_text[m_at] == c)
        {
            ++m_at;
            return true;
        }
        return false;
    }
    bool read_string(std::string* out)
    {
        if (!take('"'))
            return false;
        while (m_at < m_text.size() && m_text[m_at] != '"')
        {
            char c = m_text[m_at++];
            if (static_cast<unsigned char>(c) < 0x20)
                return false;
            if (c == '\\')
            {
                const char e = m_text[m_at++];
                const char* simple = std::strchr("\"\\/bfnrt", e);
                if (simple == nullptr && e != 'u')
                    return false;
                if (e == 'u')
                {
                    const unsigned code = std::stoul(m_text.substr(m_at, 4), nullptr, 16);
                    m_at += 4;
                    if (code >= 0x80)
                        return false;  // the export escapes only controls
                    c = char(code);
                }
                else
                {
                    c = "\"\\/\b\f\n\r\t"[simple - "\"\\/bfnrt"];
                }
            }
            *out += c;
        }
        return take('"');
    }
    bool read_value(json_value_t* value)
    {
        skip();
        if (m_at >= m_text.size())
            return false;
        const char c = m_text[m_at];
        if (c == '{')
        {
            value->kind = 'o';
            ++m_at;
            if (take('}'))
                return true;
            do
            {
                std::string key;
                json_value_t member;
                if (!read_string(&key) || !take(':') || !read_value(&member))
                    return false;
                value->members.emplace_back(key, member);
            } while (take(','));
            return take('}');
        }
        if (c == '[')
        {
            value->kind = 'a';
            ++m_at;
            if (take(']'))
                return true;
            do
            {
                json_value_t element;
                if (!read_value(&element))
                    return false;
                value->elements.push_back(element);
            } while (take(','));
            return take(']');
        }
        if (c == '"')
        {
            value->kind = 's';
            return read_string(&value->text);
        }
        const size_t end = m_text.find_first_not_of("-+.0123456789eE", m_at);
        if (end == m_at)
            return false;
        value->kind = 'd';
        value->text = m_text.substr(m_at, end - m_at);
        m_at = end;
        return true;
    }

    const std::string& m_text;
    size_t m_at = 0;
};

// A member as text: strings as they are, arrays of numbers joined with commas.
inline std::string json_text(const json_value_t& value)
{
    if (value.kind != 'a')
        return value.text;
    std::string joined;
    for (const json_value_t& element : value.elements)
        joined += (joined.empty() ? "" : ",") + element.text;
    return joined;
}

inline std::map<std::string, std::string> json_members(const json_value_t& object)
{
    std::map<std::string, std::string> members;
    for (const auto& [key, value] : object.members)
        members[key] = json_text(value);
    return members;
}

// The JSON chars carry the character itself; it is checked against the id and left out.
inline read_font_t read_json_flavour(const std::string& text)
{
    read_font_t font;
    json_value_t root;
    EXPECT_TRUE(json_parser_t(text).parse(&root)) << "not JSON";
    for (const json_value_t& page : root["pages"].elements)
        font.pages.push_back(page.text);
    for (const json_value_t& entry : root["chars"].elements)
    {
        std::map<std::string, std::string> members = json_members(entry);
        const std::string character = members["char"];
        members.erase("char");
        font.chars.push_back(as_numbers(members));
        std::string expected;  // the id as UTF-8
        const unsigned long code = std::stoul(members["id"]);
        if (code < 0x80) expected = std::string(1, char(code));
        else if (code < 0x800)
            expected = { char(0xC0 | code >> 6), char(0x80 | (code & 0x3F)) };
        else
            expected = { char(0xE0 | code >> 12), char(0x80 | (code >> 6 & 0x3F)),
                         char(0x80 | (code & 0x3F)) };
        EXPECT_EQ(character, expected) << "char of " << code;
    }
    font.info = json_members(root["info"]);
    font.common = json_members(root["common"]);
    for (const auto& member : root.members)
        if (member.first == "distanceField")
            font.distance_field = json_members(member.second);
    for (const json_value_t& pair : root["kernings"].elements)
        font.kernings.push_back({ std::stoll(pair["first"].text), std::stoll(pair["second"].text),
                                  std::stoll(pair["amount"].text) });
    return font;
}

// ---- binary: "BMF" 3, then blocks of a type byte and a 32-bit size, little-endian

class binary_cursor_t
{
public:
    binary_cursor_t(const std::string& bytes, size_t at) : m_bytes(bytes), m_at(at) {}
    unsigned u8() { return static_cast<unsigned char>(m_bytes.at(m_at++)); }
    unsigned u16() { unsigned low = u8(); return low | u8() << 8; }
    int s16() { return int16_t(u16()); }
    unsigned long u32() { unsigned long low = u16(); return low | (unsigned long)u16() << 16; }
    std::string text()
    {
        const size_t end = m_bytes.find('\0', m_at);
        std::string value = m_bytes.substr(m_at, end - m_at);
        m_at = end + 1;
        return value;
    }
    size_t at() const { return m_at; }

private:
    const std::string& m_bytes;
    size_t m_at;
};

inline read_font_t read_binary_flavour(const std::string& bytes)
{
    read_font_t font;
    EXPECT_EQ(bytes.substr(0, 4), std::string("BMF\x03"));
    std::vector<int> types;
    for (size_t at = 4; at < bytes.size();)
    {
        binary_cursor_t block(bytes, at);
        const unsigned type = block.u8();
        const unsigned long size = block.u32();
        const size_t end = block.at() + size;
        types.push_back(int(type));
        if (type == 1)
        {
            font.info["size"] = std::to_string(block.s16());
            const unsigned bits = block.u8();
            font.info["smooth"] = std::to_string(bits >> 7 & 1);
            font.info["unicode"] = std::to_string(bits >> 6 & 1);
            font.info["italic"] = std::to_string(bits >> 5 & 1);
            font.info["bold"] = std::to_string(bits >> 4 & 1);
            EXPECT_EQ(bits & 0x0F, 0u);
            EXPECT_EQ(block.u8(), 0u) << "charSet";
            font.info["charset"] = "";
            font.info["stretchH"] = std::to_string(block.u16());
            font.info["aa"] = std::to_string(block.u8());
            std::string padding;
            for (int i = 0; i < 4; ++i)
                padding += (i ? "," : "") + std::to_string(block.u8());
            font.info["padding"] = padding;
            const unsigned horizontal = block.u8();
            font.info["spacing"] = std::to_string(horizontal) + "," + std::to_string(block.u8());
            font.info["outline"] = std::to_string(block.u8());
            font.info["face"] = block.text();
        }
        else if (type == 2)
        {
            for (const char* key : { "lineHeight", "base", "scaleW", "scaleH", "pages" })
                font.common[key] = std::to_string(block.u16());
            font.common["packed"] = std::to_string(block.u8() & 1);
            for (const char* key : { "alphaChnl", "redChnl", "greenChnl", "blueChnl" })
                font.common[key] = std::to_string(block.u8());
        }
        else if (type == 3)
        {
            // Readers take the first name's length for every name.
            while (block.at() < end)
                font.pages.push_back(block.text());
            for (const std::string& name : font.pages)
                EXPECT_EQ(name.size(), font.pages[0].size()) << name;
        }
        else if (type == 4)
        {
            EXPECT_EQ(size % 20, 0u);
            while (block.at() < end)
            {
                std::map<std::string, long long> entry;
                entry["id"] = block.u32();
                for (const char* key : { "x", "y", "width", "height" })
                    entry[key] = block.u16();
                for (const char* key : { "xoffset", "yoffset", "xadvance" })
                    entry[key] = block.s16();
                entry["page"] = block.u8();
                entry["chnl"] = block.u8();
                font.chars.push_back(entry);
            }
        }
        else if (type == 5)
        {
            EXPECT_EQ(size % 10, 0u);
            while (block.at() < end)
            {
                const long long first = block.u32();
                const long long second = block.u32();
                font.kernings.push_back({ first, second, block.s16() });
            }
        }
        else
        {
            ADD_FAILURE() << "unknown block " << type;
        }
        EXPECT_EQ(block.at(), end) << "block " << type;
        at = end;
    }
    const std::vector<int> blocks = { 1, 2, 3, 4 };
    const std::vector<int> blocks_with_kerning = { 1, 2, 3, 4, 5 };
    EXPECT_TRUE(types == blocks || types == blocks_with_kerning);
    return font;
}

// ---- the font description: glyph lines, kerning lines and the line metrics

struct description_t
{
    std::vector<std::vector<long long>> glyphs;    // code, P_x, P_y, W, H, L, T, A, I
    std::vector<std::vector<long long>> kernings;  // first, second, value
    std::vector<std::vector<unsigned>> images;     // width, height
    long long max_top = 0;
    long long vertical_span = 0;
    long long line_spacing = 0;
};

inline description_t read_description(const std::string& text)
{
    description_t description;
    for (size_t at = 0; at < text.size();)
    {
        const size_t end = text.find("\r\n", at);
        const std::string line = text.substr(at, end - at);
        at = end + 2;
        unsigned code, first, second, x, y, width, height;
        int w, h, l, t, a, i, value;
        char name[64];
        if (std::sscanf(line.c_str(), "x%x, %u, %u, %d, %d, %d, %d, %d, %d", &code, &x, &y, &w,
                        &h, &l, &t, &a, &i) == 9)
            description.glyphs.push_back({ code, x, y, w, h, l, t, a, i });
        else if (std::sscanf(line.c_str(), "kern: x%x, x%x,%d", &first, &second, &value) == 3)
            description.kernings.push_back({ first, second, value });
        else if (std::sscanf(line.c_str(), "image:%63[^,], %u, %u", name, &width, &height) == 3)
            description.images.push_back({ width, height });
        else if (std::sscanf(line.c_str(), "# Max pixels 'above the line': %d", &value) == 1)
            description.max_top = value;
        else if (std::sscanf(line.c_str(), "vert_span:%d", &value) == 1)
            description.vertical_span = value;
        else if (std::sscanf(line.c_str(), "line_spacing:%d", &value) == 1)
            description.line_spacing = value;
    }
    return description;
}
