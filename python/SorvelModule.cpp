// sorvel._sorvel: libsorvel's API for Python. The zipfile-like classes of the `sorvel` package
// (sorvel/__init__.py) are built on what this module gives: opened archives, their items, content
// streams and extraction, with the GIL released while blocks are read and decrypted.
#include <Python.h>
#include <pybind11/functional.h>
#include <pybind11/pybind11.h>
#include <pybind11/stl.h>

#include <cstring>
#include <optional>
#include <string>

#include "sorvel/sorvel.h"

namespace py = pybind11;
using namespace sorvel::api;

namespace {

// The exception classes, made at import: Error and one subclass per kind of failure.
struct Exceptions {
  PyObject* error = nullptr;
  PyObject* wrongPassword = nullptr;
  PyObject* notAnArchive = nullptr;
  PyObject* unsupportedArchive = nullptr;
  PyObject* damagedArchive = nullptr;
  PyObject* damagedItem = nullptr;
};
Exceptions exceptions;

PyObject* classFor(ErrorCode code) {
  switch (code) {
    case ErrorCode::WrongPassword:
      return exceptions.wrongPassword;
    case ErrorCode::NotAnArchive:
      return exceptions.notAnArchive;
    case ErrorCode::UnknownVersion:
    case ErrorCode::UnsupportedAuth:
      return exceptions.unsupportedArchive;
    case ErrorCode::CannotOpen:
      return exceptions.damagedArchive;
    case ErrorCode::DamagedItems:
      return exceptions.damagedItem;
    default:
      return exceptions.error;
  }
}

// Raises the failure as its Python exception, with `code` (the tool's exit code) set on it.
[[noreturn]] void raise(const Status& status) {
  PyObject* type = classFor(status.code);
  py::object error = py::reinterpret_steal<py::object>(PyObject_CallFunction(type, "s", status.message.c_str()));
  if (!error) throw py::error_already_set();
  error.attr("code") = static_cast<int>(status.code);
  PyErr_SetObject(type, error.ptr());
  throw py::error_already_set();
}

// A str's UTF-8 bytes as a password; the temporary copy Python made is wiped before it goes.
Password passwordOf(const py::handle& given) {
  if (PyBytes_Check(given.ptr()) || PyByteArray_Check(given.ptr())) {
    py::buffer_info view = py::reinterpret_borrow<py::buffer>(given).request();
    return Password::bytes(view.ptr, static_cast<std::size_t>(view.size));
  }
  if (PyUnicode_Check(given.ptr())) {
    py::object utf8 = py::reinterpret_steal<py::object>(PyUnicode_AsUTF8String(given.ptr()));
    if (!utf8) throw py::error_already_set();
    char* data = PyBytes_AS_STRING(utf8.ptr());
    const auto size = static_cast<std::size_t>(PyBytes_GET_SIZE(utf8.ptr()));
    Password password = Password::text(std::string_view(data, size));
    std::memset(data, 0, size);
    return password;
  }
  throw py::type_error("a password is str or bytes");
}

// The password the arguments name: password= (str, bytes or a callable that answers one),
// password_file=, or none.
Password passwordFrom(const py::object& password, const std::optional<std::string>& passwordFile) {
  if (passwordFile) return Password::file(*passwordFile);
  if (password.is_none()) return Password();
  if (PyCallable_Check(password.ptr())) {
    return Password::ask([password]() -> Password {
      py::gil_scoped_acquire hold;
      try {
        return passwordOf(password());
      } catch (py::error_already_set& error) {
        error.restore();  // handed back by open() below
        return Password();
      }
    });
  }
  return passwordOf(password);
}

// A Python callback's exception, kept while the library finishes, then raised.
struct PendingError {
  std::optional<py::error_already_set> error;
  void rethrow() {
    if (error) {
      py::error_already_set pending = std::move(*error);
      error.reset();
      throw pending;
    }
  }
};

// The progress callback for extraction and testing: the Python one (if any) under the GIL, and a
// look at pending signals, so that Ctrl-C stops the work.
ProgressCallback progressFrom(const py::object& callback, PendingError& pending) {
  return [callback, &pending](const Progress& progress) {
    py::gil_scoped_acquire hold;
    if (pending.error) return false;
    try {
      if (PyErr_CheckSignals() != 0) throw py::error_already_set();
      if (callback.is_none()) return true;
      py::object answer = callback(progress.itemsDone, progress.itemsTotal, progress.bytesDone, progress.bytesTotal,
                                   py::str(progress.currentItem.data(), progress.currentItem.size()));
      return answer.is_none() || answer.cast<bool>();
    } catch (py::error_already_set& error) {
      pending.error = std::move(error);
      return false;
    }
  };
}

class PyArchive {
 public:
  PyArchive(const py::object& target, const py::object& password, std::optional<std::string> passwordFile) {
    Password key = passwordFrom(password, passwordFile);
    std::optional<Result<Archive>> opened;
    if (PyLong_Check(target.ptr())) {
      const int fd = target.cast<int>();
      py::gil_scoped_release release;
      opened.emplace(Archive::openDescriptor(fd, key));
    } else {
      const std::string path =
          py::str(PyOS_FSPath(target.ptr()) ? py::reinterpret_steal<py::object>(PyOS_FSPath(target.ptr())) : target);
      py::gil_scoped_release release;
      opened.emplace(Archive::open(path, key));
    }
    if (PyErr_Occurred()) throw py::error_already_set();  // the password callback raised
    if (!opened->ok()) raise(opened->status());
    archive_.emplace(std::move(opened->value()));
  }

  Archive& archive() {
    if (!archive_) throw py::value_error("the archive is closed");
    return *archive_;
  }
  void close() { archive_.reset(); }
  bool closed() const { return !archive_.has_value(); }

  const ItemInfo& info(const std::string& name) {
    const ItemInfo* item = archive().find(name);
    if (item == nullptr) throw py::key_error("There is no item named '" + name + "' in the archive");
    return *item;
  }

  Stream open(const std::string& name) {
    Result<Stream> stream = archive().openFile(name);
    if (!stream) raise(stream.status());
    return std::move(stream.value());
  }

  // Returns the lines on items not written.
  py::list extract(const std::string& folder, const std::optional<std::vector<std::string>>& members,
                   const std::string& existing, const py::object& progress, std::vector<std::string> patterns,
                   std::vector<std::string> exclude, bool wildcardsMatchSlash) {
    ExtractOptions options;
    if (members) options.items = *members;
    options.patterns = std::move(patterns);
    options.exclude = std::move(exclude);
    options.wildcardsMatchSlash = wildcardsMatchSlash;
    if (existing == "replace")
      options.existing = ExistingFiles::ReplaceAll;
    else if (existing == "keep")
      options.existing = ExistingFiles::Keep;
    else if (existing != "replace-writable")
      throw py::value_error("existing is 'replace-writable', 'replace' or 'keep'");
    std::vector<std::string> problems;
    options.problem = [&problems](std::string_view line) { problems.emplace_back(line); };
    PendingError pending;
    options.progress = progressFrom(progress, pending);
    Status status;
    {
      py::gil_scoped_release release;
      status = archive().extract(folder, options);
    }
    pending.rethrow();
    py::list lines = py::cast(problems);
    if (!status) {
      try {
        raise(status);
      } catch (py::error_already_set& error) {
        error.value().attr("problems") = lines;
        throw;
      }
    }
    return lines;
  }

  py::object test(const py::object& progress) {
    PendingError pending;
    const ProgressCallback callback = progressFrom(progress, pending);
    std::optional<Result<TestReport>> report;
    {
      py::gil_scoped_release release;
      report.emplace(archive().test(callback));
    }
    pending.rethrow();
    if (!report->ok()) raise(report->status());
    const TestReport& found = report->value();
    py::dict out;
    out["files"] = found.files;
    out["folders"] = found.folders;
    out["bytes"] = found.bytes;
    out["problems"] = py::cast(found.problems);
    out["first_damaged"] = found.firstDamaged.empty() ? py::object(py::none()) : py::str(found.firstDamaged);
    return out;
  }

 private:
  std::optional<Archive> archive_;
};

PyObject* newException(py::module_& m, const char* name, PyObject* base, const char* doc) {
  const std::string qualified = std::string("sorvel.") + name;
  PyObject* type = PyErr_NewExceptionWithDoc(qualified.c_str(), doc, base, nullptr);
  if (type == nullptr) throw py::error_already_set();
  m.add_object(name, py::handle(type));
  return type;
}

}  // namespace

PYBIND11_MODULE(_sorvel, m) {
  m.doc() = "libsorvel for Python: the machinery under the sorvel package";
  m.attr("library_version") = version();

  exceptions.error = newException(m, "Error", PyExc_Exception,
                                  "A failure of the sorvel library; `code` is the "
                                  "exit code the sorvel tool ends with for it.");
  exceptions.wrongPassword = newException(m, "WrongPassword", exceptions.error, "The password does not fit.");
  exceptions.notAnArchive = newException(m, "NotAnArchive", exceptions.error, "The file is not a sorvel archive.");
  exceptions.unsupportedArchive = newException(m, "UnsupportedArchive", exceptions.error,
                                               "An archive of a version or authentication type not supported.");
  exceptions.damagedArchive =
      newException(m, "DamagedArchive", exceptions.error, "The archive's tables are damaged: it cannot be opened.");
  exceptions.damagedItem =
      newException(m, "DamagedItem", exceptions.error, "An item's content is damaged or could not be written.");

  py::class_<ItemInfo>(m, "ItemInfo")
      .def_readonly("path", &ItemInfo::path)
      .def_property_readonly("is_folder", &ItemInfo::isFolder)
      .def_property_readonly("known", [](const ItemInfo& i) { return i.kind != ItemKind::Unknown; })
      .def_readonly("size", &ItemInfo::size)
      .def_readonly("output_size", &ItemInfo::outputSize)
      .def_readonly("readable_size", &ItemInfo::readableSize)
      .def_readonly("created", &ItemInfo::created)
      .def_readonly("modified", &ItemInfo::modified)
      .def_readonly("accessed", &ItemInfo::accessed)
      .def_readonly("attributes", &ItemInfo::attributes)
      .def_readonly("damaged", &ItemInfo::damaged)
      .def_readonly("damage", &ItemInfo::damage)
      .def_readonly("left_out", &ItemInfo::leftOut)
      .def_readonly("left_out_reason", &ItemInfo::leftOutReason);

  py::class_<Stream>(m, "Stream")
      .def_property_readonly("size", &Stream::size)
      .def("tell", &Stream::tell)
      .def("seek",
           [](Stream& s, std::int64_t offset, int whence) {
             const Whence from = whence == 1 ? Whence::Current : whence == 2 ? Whence::End : Whence::Begin;
             Result<std::uint64_t> at = s.seek(offset, from);
             if (!at) throw py::value_error(at.status().message);
             return at.value();
           })
      .def(
          "readinto",
          [](Stream& s, const py::buffer& into) {
            py::buffer_info view = into.request(/*writable=*/true);
            Result<std::size_t> got = Result<std::size_t>(std::size_t{0});
            {
              py::gil_scoped_release release;
              got = s.read(view.ptr, static_cast<std::size_t>(view.size * view.itemsize));
            }
            if (!got) raise(got.status());
            return got.value();
          },
          "Reads into a writable buffer from the position; the count read (0 at the end).");

  py::class_<PyArchive>(m, "Archive")
      .def(py::init<const py::object&, const py::object&, std::optional<std::string>>(), py::arg("file"),
           py::arg("password") = py::none(), py::arg("password_file") = py::none())
      .def("close", &PyArchive::close)
      .def_property_readonly("closed", &PyArchive::closed)
      .def(
          "items", [](PyArchive& a) { return a.archive().items(); }, py::return_value_policy::copy)
      .def("info", &PyArchive::info, py::return_value_policy::copy)
      .def("open", &PyArchive::open)
      .def("extract", &PyArchive::extract, py::arg("folder"), py::arg("members") = py::none(),
           py::arg("existing") = "replace-writable", py::arg("progress") = py::none(),
           py::arg("patterns") = std::vector<std::string>(), py::arg("exclude") = std::vector<std::string>(),
           py::arg("wildcards_match_slash") = false)
      .def("test", &PyArchive::test, py::arg("progress") = py::none())
      .def("facts", [](PyArchive& a) {
        const ArchiveFacts& f = a.archive().facts();
        py::dict out;
        out["file_size"] = f.fileSize;
        out["key_block_cipher"] = f.keyBlockCipherName;
        out["data_cipher"] = f.dataCipherName;
        out["password_protected"] = f.passwordProtected;
        out["block_size"] = f.blockSize;
        out["block_count"] = f.blockCount;
        out["used_blocks"] = f.usedBlocks;
        out["item_count"] = f.itemCount;
        out["file_count"] = f.fileCount;
        out["folder_count"] = f.folderCount;
        out["total_file_bytes"] = f.totalFileBytes;
        return out;
      });
}
