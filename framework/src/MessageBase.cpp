#include "CNMessageBase.h"

namespace {
std::atomic<long> g_liveMessages{0};
const std::string kEmpty;
}  // namespace

CNMessageBase::CNMessageBase(int group, int id) : m_group(group), m_id(id) {
    g_liveMessages.fetch_add(1, std::memory_order_relaxed);
}

CNMessageBase::~CNMessageBase() { g_liveMessages.fetch_sub(1, std::memory_order_relaxed); }

long CNMessageBase::LiveCount() { return g_liveMessages.load(std::memory_order_relaxed); }

CNField* CNMessageBase::Find(unsigned long typeKey, unsigned int fieldKey) {
    for (CNField& field : m_fields)
        if (field.fieldKey == fieldKey && field.typeKey == typeKey) return &field;
    return nullptr;
}

const CNField* CNMessageBase::FindField(unsigned long typeKey, unsigned int fieldKey) const {
    for (const CNField& field : m_fields)
        if (field.fieldKey == fieldKey && field.typeKey == typeKey) return &field;
    return nullptr;
}

// A field written with another kind than it holds takes the new kind and
// drops the old value.
CNField& CNMessageBase::Upsert(short pairFirst, short pairSecond, unsigned long typeKey, unsigned int fieldKey,
                               CNFieldKind kind) {
    CNField* field = Find(typeKey, fieldKey);
    if (!field) {
        m_fields.emplace_back();
        field = &m_fields.back();
        field->typeKey = typeKey;
        field->fieldKey = fieldKey;
    } else if (field->kind != kind) {
        field->i64 = 0;
        field->str.clear();
        field->list.clear();
        field->object.reset();
    }
    field->pairFirst = pairFirst;
    field->pairSecond = pairSecond;
    field->kind = kind;
    return *field;
}

CNMessageBase* CNMessageBase::getObjectAccessor(bool, bool write, short pairFirst, short pairSecond,
                                                unsigned long typeKey, unsigned int fieldKey, int group, int id) {
    if (!write) {
        const CNField* field = FindField(typeKey, fieldKey);
        return field && field->kind == CNFieldKind::Object ? field->object.get() : nullptr;
    }
    CNField& field = Upsert(pairFirst, pairSecond, typeKey, fieldKey, CNFieldKind::Object);
    if (!field.object) field.object = std::make_unique<CNMessageBase>(group, id);
    return field.object.get();
}

void CNMessageBase::setint64(short pairFirst, short pairSecond, long long value, unsigned long typeKey,
                             unsigned int fieldKey) {
    Upsert(pairFirst, pairSecond, typeKey, fieldKey, CNFieldKind::Int64).i64 = value;
}

void CNMessageBase::setstring(short pairFirst, short pairSecond, const std::string& value, unsigned long typeKey,
                              unsigned int fieldKey) {
    Upsert(pairFirst, pairSecond, typeKey, fieldKey, CNFieldKind::String).str = value;
}

void CNMessageBase::setliststring(short pairFirst, short pairSecond, std::vector<std::string> value,
                                  unsigned long typeKey, unsigned int fieldKey) {
    Upsert(pairFirst, pairSecond, typeKey, fieldKey, CNFieldKind::StringList).list = std::move(value);
}

long long CNMessageBase::getint64(short, unsigned long typeKey, unsigned int fieldKey) const {
    const CNField* field = FindField(typeKey, fieldKey);
    return field && field->kind == CNFieldKind::Int64 ? field->i64 : 0;
}

std::string CNMessageBase::getstring(short pairFirst, short pairSecond, unsigned long typeKey,
                                     unsigned int fieldKey) const {
    return getstringByRef(pairFirst, pairSecond, typeKey, fieldKey);
}

const std::string& CNMessageBase::getstringByRef(short, short, unsigned long typeKey, unsigned int fieldKey) const {
    const CNField* field = FindField(typeKey, fieldKey);
    return field && field->kind == CNFieldKind::String ? field->str : kEmpty;
}

std::vector<std::string>* CNMessageBase::getliststring(short pairFirst, short pairSecond, unsigned long typeKey,
                                                       unsigned int fieldKey, bool create) {
    CNField* field = Find(typeKey, fieldKey);
    if (field && field->kind == CNFieldKind::StringList) return &field->list;
    if (!create) return nullptr;
    return &Upsert(pairFirst, pairSecond, typeKey, fieldKey, CNFieldKind::StringList).list;
}
