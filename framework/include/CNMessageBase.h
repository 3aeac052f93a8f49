// CNMessageBase: the base of every wire message.
//
// A message has a type (group, id) and an ordered list of fields. A field is
// found by its type key and field key (both fixed schema numbers); the field
// pair given when it was written is kept with it and travels on the wire, but
// takes no part in finding it. A field holds a 64-bit integer, a string (any
// bytes), a list of strings or a nested object (itself a message).
//
// Reads of absent fields are defined: getint64 gives 0, getstring and
// getstringByRef give the empty string, getliststring and a reading
// getObjectAccessor give null. FindField() tells presence and kind.
//
// Fields live in a vector: a reference from getstringByRef or a pointer from
// getliststring stays valid until a field is next added to the same message
// (nested objects are separate allocations and never move).
#pragma once

#include <atomic>
#include <memory>
#include <string>
#include <vector>

class CNMessageBase;

enum class CNFieldKind : uint8_t { Int64 = 1, String = 2, StringList = 3, Object = 4 };

struct CNField {
    short pairFirst = 0;
    short pairSecond = 0;
    unsigned long typeKey = 0;
    unsigned int fieldKey = 0;
    CNFieldKind kind = CNFieldKind::Int64;
    long long i64 = 0;
    std::string str;
    std::vector<std::string> list;
    std::unique_ptr<CNMessageBase> object;
};

class CNMessageBase {
public:
    CNMessageBase(int group, int id);
    virtual ~CNMessageBase();

    CNMessageBase(const CNMessageBase&) = delete;
    CNMessageBase& operator=(const CNMessageBase&) = delete;

    // Access to the nested object at (typeKey, fieldKey). With `write` true the
    // first call creates it (of type group/id) and later calls return the same
    // object; with `write` false it returns the object if present, else null.
    // `nested` is accepted for the host's signature and has no effect.
    CNMessageBase* getObjectAccessor(bool nested, bool write, short pairFirst, short pairSecond,
                                     unsigned long typeKey, unsigned int fieldKey, int group, int id);

    // Writers: replace the field's value when present, else append the field.
    void setint64(short pairFirst, short pairSecond, long long value, unsigned long typeKey,
                  unsigned int fieldKey);
    void setstring(short pairFirst, short pairSecond, const std::string& value, unsigned long typeKey,
                   unsigned int fieldKey);
    void setliststring(short pairFirst, short pairSecond, std::vector<std::string> value,
                       unsigned long typeKey, unsigned int fieldKey);

    // Readers. The single number of getint64 is the field's number in the
    // host's schema; like the pair it takes no part in finding the field.
    long long getint64(short field, unsigned long typeKey, unsigned int fieldKey) const;
    std::string getstring(short pairFirst, short pairSecond, unsigned long typeKey,
                          unsigned int fieldKey) const;
    const std::string& getstringByRef(short pairFirst, short pairSecond, unsigned long typeKey,
                                      unsigned int fieldKey) const;
    // The field's list without a copy. With `create` true an absent field is
    // made (empty) and returned; with false an absent field gives null.
    std::vector<std::string>* getliststring(short pairFirst, short pairSecond, unsigned long typeKey,
                                            unsigned int fieldKey, bool create);

    int Group() const { return m_group; }
    int Id() const { return m_id; }

    // Introspection for the codec, the service and tests.
    const CNField* FindField(unsigned long typeKey, unsigned int fieldKey) const;
    const std::vector<CNField>& Fields() const { return m_fields; }
    std::vector<CNField>& MutableFields() { return m_fields; }

    // Messages alive in this process (every construction counts one up, every
    // destruction one down): lets tests prove that responses are released.
    static long LiveCount();

private:
    CNField* Find(unsigned long typeKey, unsigned int fieldKey);
    CNField& Upsert(short pairFirst, short pairSecond, unsigned long typeKey, unsigned int fieldKey,
                    CNFieldKind kind);

    int m_group;
    int m_id;
    std::vector<CNField> m_fields;
};
