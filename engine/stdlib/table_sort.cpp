// table.sort: a bottom-up merge sort of a private copy of the elements (of their positions,
// the elements moved once the order is known), written back only when the sort succeeds.
// Script comparison functions may be inconsistent (answering true both ways, comparing with
// NaN) or may change the container while it is being sorted; the merge sort only ever
// touches positions inside its own copy and performs a bounded number of comparisons
// whatever they answer, and a failure leaves the container as it was.

#include <algorithm>
#include <array>
#include <cstddef>
#include <cstdint>
#include <string>
#include <utility>
#include <vector>

#include "engine/cobalt_script.h"
#include "engine/error/script_error.h"
#include "engine/stdlib/container_builtins.h"
#include "engine/stdlib/table_sequence.h"

namespace cobalt::builtins {
namespace {

// Runs this short are sorted by insertion before merging: fewer moves and comparisons.
constexpr size_t kInsertionRun = 12;

/// Thrown by a comparison whose function raised an error inside a protected call: the sort
/// is abandoned and the protected call reports the error.
struct SortAbandoned {};

/// The engine's own order: numbers numerically, strings byte-wise, anything else fails.
struct NaturalOrder {
    bool operator()(Variable& a, Variable& b) const
    {
        if (a.type == VarType::Int && b.type == VarType::Int) return a.asInt() < b.asInt();
        return compareVariables(a, b) < 0;
    }
};

/// A script's comparison function: a true answer puts the first argument first.
class ScriptOrder {
public:
    ScriptOrder(CobaltScript& engine, const Variable& function) : m_engine(engine), m_function(function) {}

    bool operator()(Variable& a, Variable& b)
    {
        // The elements are lent to the call rather than copied (strings would allocate) and
        // taken back afterwards; if the call fails the working copy is dropped anyway.
        m_arguments[0] = std::move(a);
        m_arguments[1] = std::move(b);
        const bool before = m_engine.invokeCallableFast(m_function, m_arguments.data(), 2).truthy();
        a = std::move(m_arguments[0]);
        b = std::move(m_arguments[1]);
        if (m_engine.softErrorUnwinding()) throw SortAbandoned{};
        return before;
    }

private:
    CobaltScript& m_engine;
    const Variable& m_function;
    std::array<Variable, 2> m_arguments;
};

/// The positions of the elements, sorted by comparing the elements at them; the elements
/// themselves stay where they are until the order is known (applyOrder), so that only small
/// positions are moved and the merge needs a buffer of positions, not of values.
using Order = std::vector<uint32_t>;

template <class Less>
void insertionSort(std::vector<Variable>& items, Order& order, size_t low, size_t high, Less& less)
{
    for (size_t i = low + 1; i < high; ++i) {
        if (!less(items[order[i]], items[order[i - 1]])) continue;
        const uint32_t moving = order[i];
        size_t j = i;
        do {
            order[j] = order[j - 1];
            --j;
        } while (j > low && less(items[moving], items[order[j - 1]]));
        order[j] = moving;
    }
}

/// Merges the sorted runs [low, middle) and [middle, high) of `from` into `to`. Ties take
/// the left run first, so equal elements keep their order.
template <class Less>
void mergeRuns(std::vector<Variable>& items, const Order& from, Order& to, size_t low, size_t middle, size_t high,
               Less& less)
{
    // A lone run, or two runs already in order (common for nearly sorted input): moved as
    // they are, without comparing every element.
    if (middle == high || !less(items[from[middle]], items[from[middle - 1]])) {
        std::copy(from.begin() + static_cast<std::ptrdiff_t>(low), from.begin() + static_cast<std::ptrdiff_t>(high),
                  to.begin() + static_cast<std::ptrdiff_t>(low));
        return;
    }
    size_t left = low;
    size_t right = middle;
    size_t out = low;
    while (left < middle && right < high) {
        if (less(items[from[right]], items[from[left]])) {
            to[out++] = from[right++];
        } else {
            to[out++] = from[left++];
        }
    }
    while (left < middle) to[out++] = from[left++];
    while (right < high) to[out++] = from[right++];
}

/// Puts the elements in `order` (items[i] becomes the element that was at order[i]), in
/// place, one cycle of the permutation at a time.
void applyOrder(std::vector<Variable>& items, Order& order)
{
    constexpr uint32_t kPlaced = UINT32_MAX;
    for (size_t start = 0; start < items.size(); ++start) {
        if (order[start] == kPlaced) continue;
        Variable first = std::move(items[start]);
        size_t at = start;
        while (true) {
            const uint32_t from = order[at];
            order[at] = kPlaced;
            if (from == start) {
                items[at] = std::move(first);
                break;
            }
            items[at] = std::move(items[from]);
            at = from;
        }
    }
}

template <class Less>
void mergeSort(std::vector<Variable>& items, Less less)
{
    const size_t size = items.size();
    if (size >= UINT32_MAX) fail("table['sort'](table[, comp]) has too many elements");
    Order order(size);
    for (size_t i = 0; i < size; ++i) order[i] = static_cast<uint32_t>(i);
    for (size_t low = 0; low < size; low += kInsertionRun) {
        insertionSort(items, order, low, std::min(low + kInsertionRun, size), less);
    }
    if (size > kInsertionRun) {
        Order buffer(size);
        Order* from = &order;
        Order* to = &buffer;
        for (size_t width = kInsertionRun; width < size; width *= 2) {
            for (size_t low = 0; low < size; low += 2 * width) {
                const size_t middle = std::min(low + width, size);
                const size_t high = std::min(low + 2 * width, size);
                mergeRuns(items, *from, *to, low, middle, high, less);
            }
            std::swap(from, to);
        }
        if (from != &order) order.swap(buffer);
    }
    applyOrder(items, order);
}

/// The natural order over only ints or only strings is a consistent total order whose equal
/// elements cannot be told apart, so the library sort is safe there, and much faster.
bool sortUniformKinds(std::vector<Variable>& items)
{
    auto allOf = [&](VarType type) {
        return std::all_of(items.begin(), items.end(), [type](const Variable& item) { return item.type == type; });
    };
    if (allOf(VarType::Int)) {
        std::vector<int32_t> numbers;
        numbers.reserve(items.size());
        for (const Variable& item : items) numbers.push_back(item.asInt());
        std::sort(numbers.begin(), numbers.end());
        for (size_t i = 0; i < numbers.size(); ++i) items[i] = Variable(numbers[i]);
        return true;
    }
    if (allOf(VarType::String)) {
        // std::string compares bytes as unsigned char, as the natural order does.
        std::sort(items.begin(), items.end(),
                  [](const Variable& a, const Variable& b) { return a.asString() < b.asString(); });
        return true;
    }
    return false;
}

/// Sorts `items`; false when a comparison's error is left for an enclosing protected call.
bool sortElements(CobaltScript& engine, std::vector<Variable>& items, const Variable* comparison)
{
    try {
        if (comparison) {
            mergeSort(items, ScriptOrder(engine, *comparison));
        } else if (!sortUniformKinds(items)) {
            mergeSort(items, NaturalOrder{});
        }
    } catch (const SortAbandoned&) {
        return false;
    }
    return true;
}

} // namespace

Variable tableSort(CobaltScript& engine, const Variable* args, size_t count)
{
    if (count < 1 || count > 2 || (args[0].type != VarType::Array && args[0].type != VarType::Table)) {
        fail("table['sort'](table[, comp]) requires an array or table");
    }
    const Variable* comparison = count == 2 && !args[1].isNot() ? &args[1] : nullptr;
    if (comparison && comparison->type != VarType::Function) {
        fail(std::string("Attempted to call a non-function value of type ") + typeName(comparison->type));
    }

    if (args[0].type == VarType::Array) {
        // Held here: the comparison function may drop every other reference to the array.
        const ArrayRef array = args[0].asArray();
        std::vector<Variable> items = array->items;
        if (!sortElements(engine, items, comparison)) return Variable();
        // The sorted copy replaces the elements, including any change the comparison
        // function made to the array meanwhile.
        array->items = std::move(items);
        return Variable();
    }

    const TableRef table = args[0].asTable();
    const int64_t length = engine.numericTableLength(table);
    std::vector<Variable> items;
    items.reserve(static_cast<size_t>(length));
    for (int64_t k = 1; k <= length; ++k) items.push_back(sequenceSlot(*table, k));
    if (!sortElements(engine, items, comparison)) return Variable();
    for (int64_t k = 1; k <= length; ++k) sequenceSlot(*table, k) = std::move(items[static_cast<size_t>(k - 1)]);
    return Variable();
}

} // namespace cobalt::builtins
