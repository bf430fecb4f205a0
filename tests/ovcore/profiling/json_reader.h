// A small strict JSON reader for the trace tests: checks a whole text and gives the objects of a
// top-level array with their members as text (strings unescaped, numbers and objects as written).
#pragma once

#include <cctype>
#include <map>
#include <string>
#include <vector>

using json_object_t = std::map<std::string, std::string>;

class json_reader_t
{
public:
    // False when `text` is not one JSON array of objects (optionally surrounded by whitespace).
    bool read_array_of_objects(const std::string& text, std::vector<json_object_t>* objects)
    {
        m_text = text;
        m_position = 0;
        skip_space();
        if (!take('['))
            return false;
        skip_space();
        if (take(']'))
            return at_end();
        do
        {
            skip_space();
            json_object_t object;
            if (!read_object(&object))
                return false;
            objects->push_back(object);
            skip_space();
        } while (take(','));
        return take(']') && at_end();
    }

private:
    bool at_end()
    {
        skip_space();
        return m_position == m_text.size();
    }
    void skip_space()
    {
        while (m_position < m_text.size() && std::isspace(static_cast<unsigned char>(m_text[m_position])))
            ++m_position;
    }
    bool take(char c)
    {
        if (m_position < m_text.size() && m_text[m_position] == c)
        {
            ++m_position;
            return true;
        }
        return false;
    }
    bool read_object(json_object_t* object)
    {
        if (!take('{'))
            return false;
        skip_space();
        if (take('}'))
            return true;
        do
        {
            skip_space();
            std::string key;
            std::string value;
            if (!read_string(&key))
                return false;
            skip_space();
            if (!take(':'))
                return false;
            skip_space();
            if (!read_value(&value))
                return false;
            (*object)[key] = value;
            skip_space();
        } while (take(','));
        return take('}');
    }
    bool read_value(std::string* value)
    {
        const size_t start = m_position;
        if (m_position >= m_text.size())
            return false;
        const char c = m_text[m_position];
        if (c == '"')
            return read_string(value);
        if (c == '{')
        {
            json_object_t inner;
            if (!read_object(&inner))
                return false;
        }
        else if (c == '-' || std::isdigit(static_cast<unsigned char>(c)))
        {
            take('-');
            if (!std::isdigit(static_cast<unsigned char>(m_text[m_position])))
                return false;
            while (m_position < m_text.size() &&
                   std::isdigit(static_cast<unsigned char>(m_text[m_position])))
                ++m_position;
        }
        else
            return false;
        *value = m_text.substr(start, m_position - start);
        return true;
    }
    bool read_string(std::string* out)
    {
        if (!take('"'))
            return false;
        while (m_position < m_text.size())
        {
            const char c = m_text[m_position++];
            if (c == '"')
                return true;
            if (static_cast<unsigned char>(c) < 0x20)
                return false;
            if (c == '\\')
            {
                if (m_position >= m_text.size())
                    return false;
                const char escaped = m_text[m_position++];
                if (escaped == 'u')
                {
                    if (m_position + 4 > m_text.size())
                        return false;
                    out->push_back(char(std::stoi(m_text.substr(m_position, 4), nullptr, 16)));
                    m_position += 4;
                }
                else if (escaped == '"' || escaped == '\\' || escaped == '/')
                    out->push_back(escaped);
                else
                    return false;
            }
            else
                out->push_back(c);
        }
        return false;
    }

    std::string m_text;
    size_t m_position = 0;
};
