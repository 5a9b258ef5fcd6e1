#include "engine/stdlib/io_library.h"

#include <memory>
#include <string>
#include <utility>

#include "engine/cobalt_script.h"
#include "engine/error/script_error.h"
#include "engine/stdlib/library_table.h"
#include "engine/stdlib/stream_handle.h"

namespace cobalt::builtins {
namespace {

using HandleRef = std::shared_ptr<StreamHandle>;

Variable readFromHandle(StreamHandle& handle, const Variable* args, size_t count)
{
    if (!handle.isOpen()) fail("file['read'] requires a valid file handle");
    // A stream opened for writing alone has nothing to give; saying "end of input" would hide
    // the script's mistake.
    if (!handle.readable()) fail("file['read'] requires a readable file handle");
    const bool wholeInput = count > 0 && args[0].type == VarType::String && args[0].asString() == "*a";
    std::string text;
    const StreamHandle::ReadStatus status = wholeInput ? handle.readAll(text) : handle.readLine(text);
    switch (status) {
    case StreamHandle::ReadStatus::Data: return Variable(std::move(text));
    case StreamHandle::ReadStatus::EndOfInput: return Variable();
    case StreamHandle::ReadStatus::TooLarge:
        fail("file['read'] result exceeds the maximum of " + std::to_string(StreamHandle::kMaxReadBytes) + " bytes");
    case StreamHandle::ReadStatus::Failed: break;
    }
    fail("file['read'] failed to read from the stream");
}

Variable writeToHandle(StreamHandle& handle, const Variable* args, size_t count)
{
    if (!handle.isOpen() || count == 0) fail("file['write'] requires a valid file handle and at least one value");
    if (!handle.writable()) fail("file['write'] requires a writable file handle");
    std::string text;
    for (size_t i = 0; i < count; ++i) args[i].appendTo(text);
    if (!handle.write(text)) fail("file['write'] failed to write to the stream");
    return Variable();
}

Variable closeHandle(StreamHandle& handle, const Variable* /*args*/, size_t /*count*/)
{
    if (!handle.isOpen()) fail("file['close'] requires a valid file handle");
    handle.close();
    return Variable();
}

using HandleBody = Variable (*)(StreamHandle& handle, const Variable* args, size_t count);

/// One function of a file object. It works on the handle it was made with and nothing else:
/// no argument can name another stream or an address. A leading table (the file object, in
/// method-call style) is dropped.
Variable makeHandleFunction(CobaltScript& engine, const HandleRef& handle, const char* name, HandleBody body)
{
    NativeFunction function = [handle, body](NativeArgs args) {
        const bool methodStyle = !args.empty() && args.front().type == VarType::Table;
        const NativeArgs rest = methodStyle ? args.subspan(1) : args;
        return body(*handle, rest.data(), rest.size());
    };
    return engine.makeNativeCallable(std::move(function), name, BuiltinId::None);
}

Variable makeFileObject(CobaltScript& engine, const HandleRef& handle)
{
    Variable file = Variable::makeTable();
    auto& map = file.asTable()->map;
    map.insert_or_assign("read", makeHandleFunction(engine, handle, "file.read", readFromHandle));
    map.insert_or_assign("write", makeHandleFunction(engine, handle, "file.write", writeToHandle));
    map.insert_or_assign("close", makeHandleFunction(engine, handle, "file.close", closeHandle));
    return file;
}

/// A mode that is not a string means the default.
std::string modeArgument(const Variable* args, size_t count)
{
    if (count >= 2 && args[1].type == VarType::String) return args[1].asString();
    return "r";
}

} // namespace

Variable ioOpen(CobaltScript& engine, const Variable* args, size_t count)
{
    if (count == 0 || args[0].type != VarType::String) fail("io['open'](path[, mode]) requires a path string");
    const HandleRef handle = StreamHandle::openFile(engine.resolvePath(args[0].asString()), modeArgument(args, count));
    return handle ? makeFileObject(engine, handle) : Variable();
}

Variable ioPopen(CobaltScript& engine, const Variable* args, size_t count)
{
    if (count == 0 || args[0].type != VarType::String) fail("io['popen'](path[, mode]) requires a path string");
    const HandleRef handle = StreamHandle::openPipe(args[0].asString(), modeArgument(args, count));
    return handle ? makeFileObject(engine, handle) : Variable();
}

Variable makeIoLibrary(CobaltScript& engine)
{
    return makeLibraryTable(engine, "io", {{"open", ioOpen}, {"popen", ioPopen}});
}

} // namespace cobalt::builtins
