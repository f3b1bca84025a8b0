#pragma once

#include <arpa/inet.h>
#include <string>

// DNS messages as they travel, for the tests' name server, the tests of the
// hook's reading of answers and its benchmark.
namespace testing_support {

struct DnsMessage {
    std::string bytes;

    void U16(unsigned value)
    {
        bytes += static_cast<char>(value >> 8);
        bytes += static_cast<char>(value & 0xFF);
    }
    // A name written out label by label (no compression).
    void Name(const std::string& name)
    {
        size_t start = 0;
        while (start < name.size()) {
            const size_t dot = name.find('.', start);
            const size_t end = dot == std::string::npos ? name.size() : dot;
            bytes += static_cast<char>(end - start);
            bytes += name.substr(start, end - start);
            start = end + 1;
        }
        bytes += '\0';
    }
    // A record of class IN with a time to live of 60 s.
    void Record(const std::string& owner, unsigned type, const std::string& data)
    {
        Name(owner);
        U16(type);
        U16(1);
        U16(0);
        U16(60);
        U16(static_cast<unsigned>(data.size()));
        bytes += data;
    }

    // The header and question of an answer to an A query for name, with
    // records answers to follow (flags: an answer without error); or of
    // another query (its id, type and class).
    static DnsMessage Answer(const std::string& name, unsigned records, unsigned flags = 0x8180, unsigned id = 0x1234,
                             unsigned type = 1, unsigned dataClass = 1)
    {
        DnsMessage m;
        for (const unsigned value : {id, flags, 1u, records, 0u, 0u})
            m.U16(value);
        m.Name(name);
        m.U16(type);
        m.U16(dataClass);
        return m;
    }
    // A query for name, recursion wanted.
    static DnsMessage Query(const std::string& name, unsigned id = 0x1234, unsigned type = 1, unsigned dataClass = 1)
    {
        return Answer(name, 0, 0x0100, id, type, dataClass);
    }
    // The data of an A record, and of a CNAME record.
    static std::string A(const char* address)
    {
        in_addr in {};
        ::inet_pton(AF_INET, address, &in);
        return std::string(reinterpret_cast<const char*>(&in), 4);
    }
    static std::string Cname(const std::string& target)
    {
        DnsMessage m;
        m.Name(target);
        return m.bytes;
    }
};

}  // namespace testing_support
