// Text forms of values. Containers are walked with an explicit stack rather than by
// recursion, so neither a self-containing container nor a very deep one can exhaust the
// native stack: a container that is already being printed further up prints as "[...]" or
// "{...}" where it recurs.

#include <algorithm>
#include <charconv>
#include <cstdint>
#include <unordered_set>

#include "engine/error/script_error.h"
#include "engine/value/variable.h"

namespace cobalt {

namespace {

// Every concatenation and text form appends strings here, so this one check keeps a script
// that doubles a string in a loop from taking all memory. The same cap as the string
// library's results.
constexpr size_t kMaxTextBytes = size_t{256} << 20;

void appendString(std::string& out, const std::string& text)
{
    if (text.size() > kMaxTextBytes || out.size() > kMaxTextBytes - text.size()) {
        fail("String would be larger than 256 MiB");
    }
    out += text;
}

void appendInt(std::string& out, int32_t value)
{
    char buffer[16];
    auto result = std::to_chars(buffer, buffer + sizeof buffer, value);
    out.append(buffer, result.ptr);
}

void appendPointer(std::string& out, void* pointer)
{
    char buffer[24];
    auto address = static_cast<uint64_t>(reinterpret_cast<uintptr_t>(pointer));
    auto result = std::to_chars(buffer, buffer + sizeof buffer, address, 16);
    std::transform(buffer, result.ptr, buffer, [](char c) { return c >= 'a' && c <= 'f' ? char(c - 'a' + 'A') : c; });
    out += '$';
    out.append(buffer, result.ptr);
}

/// Every kind except the containers, which TextFormWriter walks.
void appendLeaf(std::string& out, const Variable& v)
{
    switch (v.type) {
    case VarType::Not: out += "not"; return;
    case VarType::Int: appendInt(out, v.asInt()); return;
    case VarType::Float: appendFloat(out, v.asFloat()); return;
    case VarType::String: appendString(out, v.asString()); return;
    case VarType::Bool: out += v.asBool() ? "true" : "false"; return;
    case VarType::Pointer: appendPointer(out, v.asPointer()); return;
    case VarType::Multi: out += "[multivalue]"; return;
    case VarType::Function: out += "[function]"; return;
    default: out += "[unconvertible type]"; return;
    }
}

class TextFormWriter {
public:
    explicit TextFormWriter(std::string& out) : m_out(out) {}

    void write(const Variable& root)
    {
        enter(root);
        while (!m_stack.empty()) step();
    }

private:
    struct Frame {
        const ScriptArray* array = nullptr;
        const ScriptTable* table = nullptr;
        size_t index = 0;  // elements written so far
        TableMap::const_iterator next;
    };

    // Below this depth the open containers are found by a scan of the stack; beyond it a
    // hash set keeps the check constant-time for very deep values.
    static constexpr size_t kLinearScanDepth = 16;

    void step()
    {
        Frame& frame = m_stack.back();
        if (frame.array) {
            if (frame.index >= frame.array->items.size()) return leave(']');
            if (frame.index++ > 0) m_out += ", ";
            enter(frame.array->items[frame.index - 1]);  // may reallocate m_stack
            return;
        }
        if (frame.next == frame.table->map.end()) return leave('}');
        if (frame.index++ > 0) m_out += ", ";
        const auto& entry = *frame.next++;
        m_out += entry.first;
        m_out += ": ";
        enter(entry.second);
    }

    void enter(const Variable& v)
    {
        if (v.type == VarType::Array) {
            const auto* ref = std::get_if<ArrayRef>(&v.value);
            const ScriptArray* array = ref ? ref->get() : nullptr;
            if (!array) return void(m_out += "[]");
            if (isOpen(array)) return void(m_out += "[...]");
            m_out += '[';
            push(Frame{array, nullptr, 0, {}}, array);
            return;
        }
        if (v.type == VarType::Table) {
            const auto* ref = std::get_if<TableRef>(&v.value);
            const ScriptTable* table = ref ? ref->get() : nullptr;
            if (!table) return void(m_out += "{}");
            if (isOpen(table)) return void(m_out += "{...}");
            m_out += '{';
            push(Frame{nullptr, table, 0, table->map.begin()}, table);
            return;
        }
        appendLeaf(m_out, v);
    }

    static const void* identity(const Frame& frame)
    {
        return frame.array ? static_cast<const void*>(frame.array) : static_cast<const void*>(frame.table);
    }

    bool isOpen(const void* container) const
    {
        if (m_useSet) return m_open.count(container) != 0;
        return std::any_of(m_stack.begin(), m_stack.end(),
                           [container](const Frame& f) { return identity(f) == container; });
    }

    void push(Frame frame, const void* container)
    {
        if (!m_useSet && m_stack.size() >= kLinearScanDepth) {
            m_useSet = true;
            for (const Frame& f : m_stack) m_open.insert(identity(f));
        }
        if (m_useSet) m_open.insert(container);
        m_stack.push_back(frame);
    }

    void leave(char closer)
    {
        m_out += closer;
        if (m_useSet) m_open.erase(identity(m_stack.back()));
        m_stack.pop_back();
    }

    std::string& m_out;
    std::vector<Frame> m_stack;
    std::unordered_set<const void*> m_open;
    bool m_useSet = false;
};

} // namespace

void appendFloat(std::string& out, float f)
{
    // Six decimals of the value widened to double, rounded exactly like printf("%.6f"), and
    // never with the process locale's decimal separator. The largest float needs 47 bytes.
    char buffer[64];
    auto result = std::to_chars(buffer, buffer + sizeof buffer, static_cast<double>(f), std::chars_format::fixed, 6);
    out.append(buffer, result.ptr);
}

std::string formatFloat(float f)
{
    std::string out;
    appendFloat(out, f);
    return out;
}

void Variable::appendTo(std::string& out) const
{
    if (type != VarType::Array && type != VarType::Table) return appendLeaf(out, *this);
    TextFormWriter(out).write(*this);
}

std::string Variable::toString() const
{
    std::string out;
    appendTo(out);
    return out;
}

} // namespace cobalt
