#pragma once

#include <cstdint>
#include <cstring>
#include <string>

// A growing little-endian byte buffer the workbook writers append records to.
class ByteSink
{
public:
    void reserve(size_t bytes) { m_data.reserve(bytes); }
    size_t size() const { return m_data.size(); }
    const std::string &data() const { return m_data; }
    std::string take() { return std::move(m_data); }

    void u8(uint8_t v) { m_data.push_back(char(v)); }
    void u16(uint16_t v)
    {
        const char b[2] = {char(v & 0xFF), char(v >> 8)};
        m_data.append(b, 2);
    }
    void u32(uint32_t v)
    {
        const char b[4] = {char(v & 0xFF), char((v >> 8) & 0xFF), char((v >> 16) & 0xFF), char(v >> 24)};
        m_data.append(b, 4);
    }
    void f64(double v)
    {
        uint64_t bits;
        std::memcpy(&bits, &v, 8);
        u32(uint32_t(bits & 0xFFFFFFFFu));
        u32(uint32_t(bits >> 32));
    }
    void bytes(const char *p, size_t n) { m_data.append(p, n); }
    void zeros(size_t n) { m_data.append(n, '\0'); }

    void patch16(size_t at, uint16_t v) { patch16(m_data, at, v); }
    void patch32(size_t at, uint32_t v) { patch32(m_data, at, v); }
    // The same in bytes already taken (a stream being put together).
    static void patch16(std::string &bytes, size_t at, uint16_t v)
    {
        bytes[at] = char(v & 0xFF);
        bytes[at + 1] = char(v >> 8);
    }
    static void patch32(std::string &bytes, size_t at, uint32_t v)
    {
        for (int i = 0; i < 4; ++i)
            bytes[at + size_t(i)] = char((v >> (8 * i)) & 0xFF);
    }

    // Starts a record and returns where its length field is; end() fills it in.
    size_t begin(uint16_t type)
    {
        u16(type);
        const size_t at = size();
        u16(0);
        return at;
    }
    void end(size_t lengthAt) { patch16(lengthAt, uint16_t(size() - lengthAt - 2)); }

    // A record whose body is one 16-bit value.
    void u16Record(uint16_t type, uint16_t value)
    {
        header(type, 2);
        u16(value);
    }

    // A whole record with a fixed-size body written by the caller right after.
    void header(uint16_t type, uint16_t length)
    {
        u16(type);
        u16(length);
    }

private:
    std::string m_data;
};
