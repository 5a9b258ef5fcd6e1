#include "engine/stdlib/library_table.h"

#include <string>

#include "engine/cobalt_script.h"

namespace cobalt {

NativeFunction bindBuiltin(CobaltScript& engine, builtins::Body body)
{
    return [&engine, body](NativeArgs args) { return body(engine, args.data(), args.size()); };
}

Variable makeLibraryTable(CobaltScript& engine, std::string_view tableName, std::initializer_list<LibraryEntry> entries)
{
    Variable table = Variable::makeTable();
    auto& map = table.asTable()->map;
    for (const LibraryEntry& entry : entries) {
        std::string name(tableName);
        name += '.';
        name += entry.key;
        map.insert_or_assign(entry.key, engine.makeNativeCallable(bindBuiltin(engine, entry.body), name, BuiltinId::None));
    }
    return table;
}

} // namespace cobalt
