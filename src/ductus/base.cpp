// PyVELTObject: the persistable base, the document save and load flows, and
// the XML helpers shared by the classes.
#include "ductus/ductus.hpp"

#include <cerrno>
#include <cstdarg>
#include <string>

#include <sys/stat.h>
#include <unistd.h>

namespace ductus {

namespace {

constexpr const char* ROOT_TAG = "PyVELTObjectList";
constexpr const char* DEFAULT_EXT = ".pyvelt";
// Identifies the layout of PyVELTObject in its pickles.
constexpr unsigned long LAYOUT_CHECKSUM = 0x6d1f4a2UL;

// func(*args, **kwargs) from a list of positional objects and name/value pairs.
PyObject* call_kw(PyObject* func, std::initializer_list<PyObject*> args,
                  std::initializer_list<std::pair<const char*, PyObject*>> kwargs) {
    pv::Ref t(PyTuple_New(static_cast<Py_ssize_t>(args.size())));
    if (!t) return nullptr;
    Py_ssize_t i = 0;
    for (PyObject* a : args) {
        Py_INCREF(a);
        PyTuple_SET_ITEM(t.get(), i++, a);
    }
    pv::Ref d(PyDict_New());
    if (!d) return nullptr;
    for (const auto& kv : kwargs) {
        if (PyDict_SetItemString(d.get(), kv.first, kv.second) < 0) return nullptr;
    }
    return PyObject_Call(func, t.get(), d.get());
}

PyObject* attr_call_kw(PyObject* obj, const char* name, std::initializer_list<PyObject*> args,
                       std::initializer_list<std::pair<const char*, PyObject*>> kwargs) {
    pv::Ref f(pv::getattr(obj, name));
    return f ? call_kw(f.get(), args, kwargs) : nullptr;
}

// The file name rule: ".pyvelt" is appended when the name has no extension.
PyObject* file_name(PyObject* fname) {
    pv::Ref path(pv::getattr(mods.os, "path"));
    if (!path) return nullptr;
    pv::Ref parts(pv::call_method(path.get(), "splitext", fname));
    if (!parts) return nullptr;
    if (!PyTuple_Check(parts.get()) || PyTuple_GET_SIZE(parts.get()) != 2) {
        return pv::fail(PyExc_TypeError, "os.path.splitext() returned an unexpected value");
    }
    int empty = PyObject_Not(PyTuple_GET_ITEM(parts.get(), 1));
    if (empty < 0) return nullptr;
    if (!empty) {
        Py_INCREF(fname);
        return fname;
    }
    pv::Ref ext(PyUnicode_FromString(DEFAULT_EXT));
    return ext ? PyNumber_Add(fname, ext.get()) : nullptr;
}

// A parser that neither resolves entities nor reaches the network. Huge
// documents are allowed: a trajectory of more than about 500,000 control
// points has a text node beyond the 10 MB that libxml2 accepts by default,
// and without this a document that held one could no longer be read or
// saved into. Entities stay unresolved, so the lifted limits cannot be
// turned into an expansion attack.
PyObject* safe_parser(bool remove_blank_text) {
    return attr_call_kw(mods.etree, "XMLParser", {},
                        {{"remove_blank_text", remove_blank_text ? Py_True : Py_False},
                         {"resolve_entities", Py_False},
                         {"no_network", Py_True},
                         {"huge_tree", Py_True}});
}

PyObject* parse(PyObject* fname, bool remove_blank_text) {
    pv::Ref parser(safe_parser(remove_blank_text));
    if (!parser) return nullptr;
    return attr_call_kw(mods.etree, "parse", {fname, parser.get()}, {});
}

// The flags of os.open named (those the system lacks are left out).
PyObject* open_flags(std::initializer_list<const char*> names) {
    long f = 0;
    for (const char* name : names) {
        pv::Ref v(pv::getattr(mods.os, name));
        if (!v) {
            PyErr_Clear();
            continue;
        }
        f |= PyLong_AsLong(v.get());
    }
    return PyLong_FromLong(f);
}

// os.path, and the folder and the file name of `path` made absolute: the
// hidden files of a save (its new document, its lock) go beside the document.
bool split_path(PyObject* path, pv::Ref& ospath, pv::Ref& dir, pv::Ref& base) {
    ospath.reset(pv::getattr(mods.os, "path"));
    pv::Ref absp(ospath ? pv::call_method(ospath.get(), "abspath", path) : nullptr);
    dir.reset(absp ? pv::call_method(ospath.get(), "dirname", absp.get()) : nullptr);
    base.reset(dir ? pv::call_method(ospath.get(), "basename", absp.get()) : nullptr);
    return static_cast<bool>(base);
}

// The document of a save: the name the user gave (after the file name rule)
// and the file it stands for, symbolic links resolved, so that a save through
// a link updates the link's target and the link stays a link. The hidden files
// of the save go beside that file.
struct DocPath {
    pv::Ref name;    // as given
    pv::Ref path;    // os.path.realpath(name)
    pv::Ref folder;  // the folder of path
    pv::Ref base;    // the file name of path

    bool init(PyObject* fname) {
        name = pv::Ref::borrow(fname);
        pv::Ref ospath(pv::getattr(mods.os, "path"));
        path.reset(ospath ? pv::call_method(ospath.get(), "realpath", fname) : nullptr);
        pv::Ref unused;
        return path && split_path(path.get(), unused, folder, base);
    }
    // 'name', or 'name' (a link to 'path'), for messages.
    PyObject* label() const {
        pv::Ref ospath(pv::getattr(mods.os, "path"));
        pv::Ref absp(ospath ? pv::call_method(ospath.get(), "abspath", name.get()) : nullptr);
        int same = absp ? PyObject_RichCompareBool(absp.get(), path.get(), Py_EQ) : -1;
        if (same < 0) return nullptr;
        return same ? PyUnicode_FromFormat("%R", name.get())
                    : PyUnicode_FromFormat("%R (a link to %R)", name.get(), path.get());
    }
};

// Raises OSError, of the subclass of `err` (none for 0), with the text
// "cannot save the document <label>: <why>".
bool refuse(const DocPath& d, int err, const char* why_fmt, ...) {
    va_list va;
    va_start(va, why_fmt);
    pv::Ref why(PyUnicode_FromFormatV(why_fmt, va));
    va_end(va);
    pv::Ref label(why ? d.label() : nullptr);
    pv::Ref text(label ? PyUnicode_FromFormat("cannot save the document %U: %U", label.get(), why.get())
                       : nullptr);
    if (!text) return false;
    pv::Ref exc(err ? PyObject_CallFunction(PyExc_OSError, "iO", err, text.get())
                    : PyObject_CallFunctionObjArgs(PyExc_OSError, text.get(), nullptr));
    if (exc) PyErr_SetObject(reinterpret_cast<PyObject*>(Py_TYPE(exc.get())), exc.get());
    return false;
}

// Replaces a pending OSError of a step of the save, whose text may name one
// of the hidden files, by one that names the document and says why. A step
// `in_folder` creates a file in the document's folder. Other errors stay.
bool reword(const DocPath& d, bool in_folder) {
    if (!PyErr_ExceptionMatches(PyExc_OSError)) return false;
    PyObject *t, *v, *tb;
    PyErr_Fetch(&t, &v, &tb);
    PyErr_NormalizeException(&t, &v, &tb);
    pv::Ref type(t), value(v), trace(tb);
    pv::Ref eno(value ? pv::getattr(value.get(), "errno") : nullptr);
    pv::Ref msg(eno ? pv::getattr(value.get(), "strerror") : nullptr);
    if (!msg) return false;
    int err = 0;
    if (eno.get() != Py_None) {
        err = PyLong_AsLong(eno.get());
        if (err == -1 && PyErr_Occurred()) return false;
    }
    if (msg.get() == Py_None) msg.reset(PyObject_Str(value.get()));
    if (!msg) return false;
    if (in_folder && err == ENOENT) return refuse(d, err, "its folder %R does not exist", d.folder.get());
    if (in_folder && (err == EACCES || err == EPERM || err == EROFS)) {
        return refuse(d, err, "its folder %R is not writable (%S)", d.folder.get(), msg.get());
    }
    return refuse(d, err, "%S", msg.get());
}

bool stat_fields(PyObject* st, long long& mode, long long& nlink) {
    pv::Ref m(pv::getattr(st, "st_mode"));
    pv::Ref k(m ? pv::getattr(st, "st_nlink") : nullptr);
    if (!k) return false;
    mode = PyLong_AsLongLong(m.get());
    nlink = PyLong_AsLongLong(k.get());
    return !PyErr_Occurred();
}

// May this process write `path`, by os.access with the effective ids where
// the system offers them.
int may_write(PyObject* path) {
    pv::Ref wok(pv::getattr(mods.os, "W_OK"));
    if (!wok) return -1;
    pv::Ref r(attr_call_kw(mods.os, "access", {path, wok.get()}, {{"effective_ids", Py_True}}));
    if (!r && PyErr_ExceptionMatches(PyExc_NotImplementedError)) {
        PyErr_Clear();
        r.reset(pv::call_method(mods.os, "access", path, wok.get()));
    }
    return r ? PyObject_IsTrue(r.get()) : -1;
}

// Refuses, before anything is written, a document that a save must not
// replace: one that is not a regular file (a FIFO, a device, a folder), that
// has other hard links (the new file would split them: the other names would
// keep the old content), or that is read-only. Read-only means either that its
// mode has no write permission bit at all (0444: so also for root, whom the
// system lets write anything) or that os.access says this user may not write
// it (the folder may well be writable, but the document is not theirs to
// rewrite). A missing document is fine: the save creates it.
bool check_target(const DocPath& d) {
    pv::Ref st(pv::call_method(mods.os, "lstat", d.path.get()));
    if (!st) {
        if (!PyErr_ExceptionMatches(PyExc_FileNotFoundError)) return reword(d, false);
        PyErr_Clear();
        return true;
    }
    long long mode = 0, nlink = 0;
    if (!stat_fields(st.get(), mode, nlink)) return false;
    if (S_ISLNK(mode)) return refuse(d, ELOOP, "it is a symbolic link that does not resolve");
    if (S_ISDIR(mode)) return refuse(d, EISDIR, "it is a folder");
    if (!S_ISREG(mode)) {
        const char* kind = S_ISFIFO(mode) ? "a FIFO"
                           : (S_ISCHR(mode) || S_ISBLK(mode)) ? "a device"
                           : S_ISSOCK(mode) ? "a socket" : "a special file";
        return refuse(d, 0, "it is %s, not a regular file", kind);
    }
    if (nlink > 1) {
        return refuse(d, 0, "it has %lld hard links, which a save would split (the other names "
                            "would keep the old content)", nlink);
    }
    if ((mode & 0222) == 0) return refuse(d, EACCES, "it is read-only (no write permission in its mode)");
    int w = may_write(d.path.get());
    if (w < 0) return false;
    if (!w) return refuse(d, EACCES, "this user may not write it");
    return true;
}

// Tells whether `name` is one of the hidden files that write_replace makes
// for the document whose prefix is ".<name>.": ".<name>.<pid>.<n>.tmp".
bool is_temp_name(PyObject* name, PyObject* prefix) {
    if (!PyUnicode_Check(name)) return false;
    const Py_ssize_t n = PyUnicode_GetLength(name), k = PyUnicode_GetLength(prefix);
    pv::Ref tmp(PyUnicode_FromString(".tmp"));
    if (!tmp || n < k + 7) return false;
    if (PyUnicode_Tailmatch(name, prefix, 0, n, -1) != 1 || PyUnicode_Tailmatch(name, tmp.get(), 0, n, 1) != 1) {
        PyErr_Clear();
        return false;
    }
    int dots = 0;
    bool digit = false;
    for (Py_ssize_t i = k; i < n - 4; ++i) {
        const Py_UCS4 c = PyUnicode_ReadChar(name, i);
        if (c == '.') {
            if (!digit || ++dots > 1) return false;
            digit = false;
        } else if (c >= '0' && c <= '9') {
            digit = true;
        } else {
            return false;
        }
    }
    return dots == 1 && digit;
}

// Removes what saves of this document killed midway left in its folder: the
// hidden temporary files that only a save holding the document's lock
// creates. The caller holds that lock, so none of them belongs to a running
// save. Best effort: what cannot be listed or removed stays.
void remove_stale_temps(const DocPath& d) {
    PyObject *t, *v, *tb;
    PyErr_Fetch(&t, &v, &tb);
    pv::Ref names(pv::call_method(mods.os, "listdir", d.folder.get()));
    pv::Ref prefix(names ? PyUnicode_FromFormat(".%U.", d.base.get()) : nullptr);
    pv::Ref ospath(prefix ? pv::getattr(mods.os, "path") : nullptr);
    const Py_ssize_t count = ospath && PyList_Check(names.get()) ? PyList_GET_SIZE(names.get()) : 0;
    for (Py_ssize_t i = 0; i < count; ++i) {
        PyObject* name = PyList_GET_ITEM(names.get(), i);
        if (!is_temp_name(name, prefix.get())) continue;
        pv::Ref full(pv::call_method(ospath.get(), "join", d.folder.get(), name));
        pv::Ref st(full ? pv::call_method(mods.os, "lstat", full.get()) : nullptr);
        long long mode = 0, nlink = 0;
        if (st && stat_fields(st.get(), mode, nlink) && S_ISREG(mode)) {
            Py_XDECREF(pv::call_method(mods.os, "unlink", full.get()));
        }
        PyErr_Clear();
    }
    PyErr_Clear();
    PyErr_Restore(t, v, tb);
}

// Fresh temporary names tried per save. A name is refused only when a file
// of that name already exists (left behind, or put there); after this many
// refusals in a row the save gives up with the error of the last one.
constexpr int TEMP_NAME_ATTEMPTS = 100;

// Creates the hidden temporary file of a save in the document's folder
// (exclusively, never through a link): its path in `tmp`, its descriptor in
// `fd`.
bool open_temp(const DocPath& d, PyObject* ospath, pv::Ref& tmp, pv::Ref& fd) {
    pv::Ref flags(open_flags({"O_WRONLY", "O_CREAT", "O_EXCL", "O_NOFOLLOW", "O_BINARY", "O_CLOEXEC"}));
    pv::Ref mode(PyLong_FromLong(0666));
    if (!flags || !mode) return false;
    static unsigned long counter = 0;
    for (int attempt = 0; !fd; ++attempt) {
        // remove_stale_temps knows this pattern.
        pv::Ref name(PyUnicode_FromFormat(".%U.%ld.%lu.tmp", d.base.get(),
                                          static_cast<long>(getpid()), ++counter));
        if (!name) return false;
        tmp.reset(pv::call_method(ospath, "join", d.folder.get(), name.get()));
        if (!tmp) return false;
        fd.reset(pv::call_method(mods.os, "open", tmp.get(), flags.get(), mode.get()));
        if (!fd) {
            if (attempt < TEMP_NAME_ATTEMPTS && PyErr_ExceptionMatches(PyExc_FileExistsError)) {
                PyErr_Clear();
                continue;
            }
            return reword(d, true);
        }
    }
    return true;
}

// An existing document keeps its permissions: its mode goes to the file
// `tmp` that will replace it.
bool keep_mode(PyObject* ospath, PyObject* path, PyObject* tmp) {
    PyObject* os = mods.os;
    pv::Ref isfile(pv::call_method(ospath, "isfile", path));
    if (!isfile) return false;
    if (isfile.get() != Py_True) return true;
    pv::Ref st(pv::call_method(os, "stat", path));
    pv::Ref st_mode(st ? pv::getattr(st.get(), "st_mode") : nullptr);
    pv::Ref mask(PyLong_FromLong(07777));
    pv::Ref m(st_mode && mask ? PyNumber_And(st_mode.get(), mask.get()) : nullptr);
    pv::Ref r(m ? pv::call_method(os, "chmod", tmp, m.get()) : nullptr);
    return static_cast<bool>(r);
}

// Writes every byte of `data` to the descriptor `fd` (short writes continue).
bool write_all(PyObject* fd, PyObject* data) {
    pv::Ref view(PyMemoryView_FromObject(data));
    bool ok = static_cast<bool>(view);
    while (ok && PyObject_Length(view.get()) > 0) {
        pv::Ref w(pv::call_method(mods.os, "write", fd, view.get()));
        Py_ssize_t k = w ? PyLong_AsSsize_t(w.get()) : -1;
        if (k < 0) return false;
        if (k == 0) return pv::fail(PyExc_OSError, "write returned 0 bytes");
        view.reset(PySequence_GetSlice(view.get(), k, PY_SSIZE_T_MAX));
        ok = static_cast<bool>(view);
    }
    return ok;
}

// Writes `data` (bytes) to the document without ever leaving a partial file
// there: the bytes go to a new file in the same folder, which replaces the
// document only once it is complete and flushed to disk. Errors name the
// document, never the hidden file.
bool write_replace(const DocPath& d, PyObject* data) {
    PyObject* os = mods.os;
    pv::Ref ospath(pv::getattr(os, "path"));
    if (!ospath) return false;
    pv::Ref tmp, fd;
    if (!open_temp(d, ospath.get(), tmp, fd)) return false;
    bool open_fd = true;
    bool ok = keep_mode(ospath.get(), d.path.get(), tmp.get()) && write_all(fd.get(), data);
    if (ok) {
        pv::Ref r(pv::call_method(os, "fsync", fd.get()));
        ok = static_cast<bool>(r);
    }
    if (ok) {
        open_fd = false;
        pv::Ref r(pv::call_method(os, "close", fd.get()));
        ok = static_cast<bool>(r);
    }
    if (ok) {
        pv::Ref r(pv::call_method(os, "replace", tmp.get(), d.path.get()));
        ok = static_cast<bool>(r);
    }
    if (!ok) {
        // Keep the first error; the clean-up must not mask it.
        PyObject *t, *v, *tb;
        PyErr_Fetch(&t, &v, &tb);
        if (open_fd) Py_XDECREF(pv::call_method(os, "close", fd.get()));
        PyErr_Clear();
        Py_XDECREF(pv::call_method(os, "unlink", tmp.get()));
        PyErr_Clear();
        PyErr_Restore(t, v, tb);
        reword(d, false);
    }
    return ok;
}

// ---------------------------------------------------------------- PyVELTObject

PyObject* base_new(PyTypeObject* type, PyObject*, PyObject*) {
    PyObject* o = type->tp_alloc(type, 0);
    if (o) reinterpret_cast<BaseObj*>(o)->vtab = &base_vtab;
    return o;
}

PyObject* abstract() { return pv::fail(PyExc_NotImplementedError, "abstract method"); }

PyObject* base_c_loadxml(StrArg, StrArg) { Py_RETURN_NONE; }
PyObject* base_getattrib(PyObject*) { return abstract(); }
void base_add(PyObject*, pv::Obj, StrArg) { abstract(); }
void base_update(PyObject*, pv::Obj, pv::Obj, StrArg) { abstract(); }
PyObject* base_loadxml(PyObject*, StrArg, StrArg) { return abstract(); }

// Advisory lock held for the whole read-modify-write of a save, so that two
// processes saving into one document do not lose each other's update: an
// exclusive flock on the hidden file ".<name>.lock" beside the document (the
// document itself is replaced by a new file on every save, so its inode
// cannot carry the lock). The lock file is removed on release; a process
// that locked a file removed meanwhile tries again. The lock file is opened
// with O_NOFOLLOW and must be a regular file: a symbolic link planted under
// its name is refused, never followed. Without fcntl (not a POSIX system)
// saves are not locked.
class DocLock {
public:
    DocLock() = default;
    DocLock(const DocLock&) = delete;
    DocLock& operator=(const DocLock&) = delete;
    ~DocLock() {
        if (!fd_) return;
        PyObject *t, *v, *tb;
        PyErr_Fetch(&t, &v, &tb);
        Py_XDECREF(pv::call_method(mods.os, "unlink", path_.get()));
        PyErr_Clear();
        Py_XDECREF(pv::call_method(mods.os, "close", fd_.get()));  // drops the lock
        PyErr_Clear();
        PyErr_Restore(t, v, tb);
    }
    // Errors name the document, never the lock file.
    bool acquire(const DocPath& d) {
        pv::Ref fcntl(PyImport_ImportModule("fcntl"));
        if (!fcntl) {
            if (!PyErr_ExceptionMatches(PyExc_ImportError)) return false;
            PyErr_Clear();
            return true;
        }
        pv::Ref ospath(pv::getattr(mods.os, "path"));
        pv::Ref name(ospath ? PyUnicode_FromFormat(".%U.lock", d.base.get()) : nullptr);
        pv::Ref path(name ? pv::call_method(ospath.get(), "join", d.folder.get(), name.get()) : nullptr);
        pv::Ref flags(path ? open_flags({"O_RDWR", "O_CREAT", "O_NOFOLLOW", "O_NOCTTY", "O_NONBLOCK",
                                         "O_CLOEXEC"})
                           : nullptr);
        pv::Ref mode(PyLong_FromLong(0666));
        pv::Ref op(mode ? pv::getattr(fcntl.get(), "LOCK_EX") : nullptr);
        if (!flags || !op) return false;
        for (;;) {
            pv::Ref fd(pv::call_method(mods.os, "open", path.get(), flags.get(), mode.get()));
            if (!fd) {
                if (!PyErr_ExceptionMatches(PyExc_OSError)) return false;
                PyObject *t, *v, *tb;
                PyErr_Fetch(&t, &v, &tb);
                pv::Ref islink(pv::call_method(ospath.get(), "islink", path.get()));
                PyErr_Clear();
                if (islink && islink.get() == Py_True) {
                    Py_XDECREF(t);
                    Py_XDECREF(v);
                    Py_XDECREF(tb);
                    return refuse(d, ELOOP, "its lock file is a symbolic link (refused, not followed)");
                }
                PyErr_Restore(t, v, tb);
                return reword(d, true);
            }
            pv::Ref mine(pv::call_method(mods.os, "fstat", fd.get()));
            long long fmode = 0, nlink = 0;
            if (!mine || !stat_fields(mine.get(), fmode, nlink) || !S_ISREG(fmode)) {
                if (mine && !PyErr_Occurred()) {
                    refuse(d, 0, "something other than a regular file stands where its lock file belongs");
                }
                PyObject *t, *v, *tb;
                PyErr_Fetch(&t, &v, &tb);
                Py_XDECREF(pv::call_method(mods.os, "close", fd.get()));
                PyErr_Clear();
                PyErr_Restore(t, v, tb);
                return false;
            }
            pv::Ref r(pv::call_method(fcntl.get(), "flock", fd.get(), op.get()));
            if (!r) {
                PyObject *t, *v, *tb;
                PyErr_Fetch(&t, &v, &tb);
                Py_XDECREF(pv::call_method(mods.os, "close", fd.get()));
                PyErr_Clear();
                PyErr_Restore(t, v, tb);
                return reword(d, false);
            }
            // The lock counts only if the file locked is still the one of that name.
            pv::Ref cur(pv::call_method(mods.os, "lstat", path.get()));
            int same = 0;
            if (cur) {
                pv::Ref a(pv::getattr(mine.get(), "st_ino"));
                pv::Ref b(a ? pv::getattr(cur.get(), "st_ino") : nullptr);
                same = b ? PyObject_RichCompareBool(a.get(), b.get(), Py_EQ) : -1;
            } else if (mine && PyErr_ExceptionMatches(PyExc_FileNotFoundError)) {
                PyErr_Clear();
            }
            if (same > 0) {
                fd_ = std::move(fd);
                path_ = std::move(path);
                return true;
            }
            Py_XDECREF(pv::call_method(mods.os, "close", fd.get()));
            if (same < 0 || PyErr_Occurred()) return false;
        }
    }
    bool held() const { return static_cast<bool>(fd_); }
private:
    pv::Ref fd_;
    pv::Ref path_;
};

void save(PyObject* self, const DocPath& d, StrArg ID);

// The document is checked before the lock file is made beside it (nothing is
// created beside a device or a FIFO) and again under the lock; stale
// temporary files of killed saves are removed under the lock.
void base_savexml(PyObject* self, StrArg fname_in, StrArg ID) {
    pv::Ref fname(file_name(fname_in.o));
    DocPath d;
    if (!fname || !d.init(fname.get()) || !check_target(d)) return;
    DocLock lock;
    if (!lock.acquire(d) || !check_target(d)) return;
    if (lock.held()) remove_stale_temps(d);
    save(self, d, ID);
}

void save(PyObject* self, const DocPath& d, StrArg ID) {
    pv::Ref fname = pv::Ref::borrow(d.path.get());
    pv::Ref ospath(pv::getattr(mods.os, "path"));
    pv::Ref isfile(ospath ? pv::call_method(ospath.get(), "isfile", fname.get()) : nullptr);
    if (!isfile) return;
    pv::Ref tree, root;
    const BaseVTab* t = vt(self);
    if (PyObject_IsTrue(isfile.get())) {
        tree.reset(parse(fname.get(), true));
        root.reset(tree ? pv::call_method(tree.get(), "getroot") : nullptr);
        pv::Ref tag(root ? pv::getattr(root.get(), "tag") : nullptr);
        if (!tag) return;
        int same = PyUnicode_Check(tag.get()) && PyUnicode_CompareWithASCIIString(tag.get(), ROOT_TAG) == 0;
        if (!same) {
            pv::Ref text(PyObject_Str(tag.get()));
            if (text) pv::fail(CorruptedFileError, "corrupt root node in the uploaded file: %U", text.get());
            return;
        }
        pv::Ref cls(pv::getattr(reinterpret_cast<PyObject*>(Py_TYPE(self)), "__name__"));
        pv::Ref found(cls ? query(tree.get(), cls.get(), ID.o, nullptr) : nullptr);
        if (!found) return;
        Py_ssize_t k = PyObject_Length(found.get());
        if (k < 0) return;
        if (k == 0) {
            t->_addPyVELTObject(self, pv::Obj{root.get()}, ID);
        } else if (k == 1) {
            pv::Ref node(PySequence_GetItem(found.get(), 0));
            if (!node) return;
            t->_updatePyVELTObject(self, pv::Obj{tree.get()}, pv::Obj{node.get()}, ID);
        } else {
            pv::Ref idt(id_text(ID.o));
            if (idt) pv::fail(CorruptedFileError, "multiple matches in the uploaded file: %U", idt.get());
            return;
        }
    } else {
        pv::Ref tag(PyUnicode_FromString(ROOT_TAG));
        root.reset(tag ? pv::call_method(mods.etree, "Element", tag.get()) : nullptr);
        tree.reset(root ? pv::call_method(mods.etree, "ElementTree", root.get()) : nullptr);
        pv::Ref version(tree ? pv::getattr(mods.pyvelt, "__version__") : nullptr);
        pv::Ref vtext(version ? PyObject_Str(version.get()) : nullptr);
        pv::Ref text(vtext ? PyUnicode_FromFormat("Generated by python_velt %U", vtext.get()) : nullptr);
        pv::Ref comment(text ? pv::call_method(mods.etree, "Comment", text.get()) : nullptr);
        pv::Ref r(comment ? pv::call_method(root.get(), "addprevious", comment.get()) : nullptr);
        if (!r) return;
        t->_addPyVELTObject(self, pv::Obj{root.get()}, ID);
    }
    if (PyErr_Occurred()) return;
    pv::Ref enc(PyUnicode_FromString("utf-8"));
    pv::Ref data(enc ? attr_call_kw(mods.etree, "tostring", {tree.get()},
                                    {{"pretty_print", Py_True},
                                     {"xml_declaration", Py_True},
                                     {"encoding", enc.get()}})
                     : nullptr);
    if (!data) return;
    write_replace(d, data.get());
}

// Pickling of PyVELTObject and of Python classes derived from it directly:
// the class and the instance dictionary.
PyObject* base_reduce(PyObject* self) {
    pv::Ref mod(PyImport_ImportModule("pyvelt.ductus"));
    pv::Ref fn(mod ? pv::getattr(mod.get(), "_unpickle_PyVELTObject") : nullptr);
    if (!fn) return nullptr;
    // The instance dictionary, or None for an instance without one.
    pv::Ref state(PyObject_GenericGetDict(self, nullptr));
    if (!state) {
        if (!PyErr_ExceptionMatches(PyExc_AttributeError)) return nullptr;
        PyErr_Clear();
        state = pv::Ref::borrow(Py_None);
    }
    return Py_BuildValue("(O(OkO))", fn.get(), reinterpret_cast<PyObject*>(Py_TYPE(self)),
                         LAYOUT_CHECKSUM, state.get());
}

PyObject* unpickle_base(PyObject*, PyObject* const* args, Py_ssize_t nargs, PyObject* kwnames) {
    static const char* const names[] = {"_unpickle_PyVELTObject", "type", "checksum", "state", nullptr};
    PyObject* a[3];
    if (!pv::parse_args(names, 3, args, nargs, kwnames, a)) return nullptr;
    if (!PyType_Check(a[0]) || !PyType_IsSubtype(reinterpret_cast<PyTypeObject*>(a[0]), &BaseType)) {
        return pv::fail(PyExc_TypeError, "%.200s is not a subtype of PyVELTObject",
                        Py_TYPE(a[0])->tp_name);
    }
    // Only classes with the layout of PyVELTObject itself: an instance of
    // Point1d or Trajectory1d (or of a class derived from them) built here
    // would lack its fields and its table of operations.
    PyTypeObject* solid = reinterpret_cast<PyTypeObject*>(a[0]);
    while (PyType_HasFeature(solid, Py_TPFLAGS_HEAPTYPE) && solid->tp_base) solid = solid->tp_base;
    if (solid != &BaseType) {
        return pv::fail(PyExc_TypeError,
                        "_unpickle_PyVELTObject() rebuilds classes derived directly from "
                        "PyVELTObject, not %.200s (an extension type of its own)",
                        reinterpret_cast<PyTypeObject*>(a[0])->tp_name);
    }
    unsigned long sum = PyLong_AsUnsignedLongMask(a[1]);
    if (PyErr_Occurred()) return nullptr;
    if (sum != LAYOUT_CHECKSUM) {
        pv::Ref pickle(PyImport_ImportModule("pickle"));
        pv::Ref err(pickle ? pv::getattr(pickle.get(), "PickleError") : nullptr);
        if (err) {
            pv::fail(err.get(), "Incompatible checksums (0x%lx vs (0x%lx) = ())", sum,
                     LAYOUT_CHECKSUM);
        }
        return nullptr;
    }
    pv::Ref empty(PyTuple_New(0));
    pv::Ref obj(empty ? base_new(reinterpret_cast<PyTypeObject*>(a[0]), empty.get(), nullptr) : nullptr);
    if (!obj) return nullptr;
    if (a[2] != Py_None) {
        pv::Ref d(pv::getattr(obj.get(), "__dict__"));
        pv::Ref r(d ? pv::call_method(d.get(), "update", a[2]) : nullptr);
        if (!r) return nullptr;
    }
    return obj.release();
}

const char* const savexml_args[] = {"savexml", "fname", "ID", nullptr};
const char* const loadxml_args[] = {"loadxml", "fname", "ID", nullptr};
const char* const getattrib_args[] = {"_getAttrib", nullptr};
const char* const add_args[] = {"_addPyVELTObject", "root", "ID", nullptr};
const char* const update_args[] = {"_updatePyVELTObject", "tree", "node", "ID", nullptr};
const char* const reduce_args[] = {"__reduce__", nullptr};

using SaveM = pv::Method<base_savexml, savexml_args>;
using LoadM = pv::Method<base_loadxml, loadxml_args>;
using GetAttribM = pv::Method<base_getattrib, getattrib_args, pv::DictOrNone, pv::Call::NoArgs>;
using AddM = pv::Method<base_add, add_args>;
using UpdateM = pv::Method<base_update, update_args>;
using ReduceM = pv::Method<base_reduce, reduce_args, pv::AnyObj, pv::Call::NoArgs>;

#define XML_ARGS_DOC                                                                    \
    "Parameters\n----------\n"                                                          \
    "fname : str\n    The file name; the .pyvelt extension is used when none is given.\n" \
    "ID : str\n    The object ID.\n\n"

const char savexml_doc[] =
    "Method to save a PyVELTObject object to a file in .xml format.\n\n"
    "The object is appended to the document, or its element is rewritten when the\n"
    "document already holds one with the same class and ID. A new document is\n"
    "created when the file does not exist.\n\n" XML_ARGS_DOC
    "Returns\n-------\nNone\n\n"
    "Notes\n-----\n"
    "CorruptedFileError when the existing document has another root element or\n"
    "several elements with this ID. The document is written to a new file that\n"
    "replaces the old one only when complete: a failure leaves the old file as it was.\n"
    "A symbolic link is resolved and its target updated. OSError, naming the\n"
    "document, for one that is not a regular file, has other hard links, or is\n"
    "read-only (no write bit in its mode, or not writable by this user); such a\n"
    "document is left as it was.\n\n"
    LXML_REFS;
const char loadxml_doc[] =
    "Method to load a PyVELTObject object from a file in .xml format.\n\n"
    "Abstract: the subclasses define their own.\n\n" XML_ARGS_DOC
    "Returns\n-------\nPyVELTObject\n\n"
    "Notes\n-----\nRaises NotImplementedError.\n\n"
    LXML_REFS;
const char getattrib_doc[] =
    "Returns the attributes of the object as a dictionary.\n\n"
    "Abstract.\n\nParameters\n----------\nNone\n\n"
    "Returns\n-------\ndict\n\nNotes\n-----\nRaises NotImplementedError.\n\n"
    "References\n----------\nNone\n";
const char add_doc[] =
    "Appends the element of the object to the document root.\n\n"
    "Abstract.\n\nParameters\n----------\nroot : lxml element\n    The document root.\n"
    "ID : str\n    The object ID.\n\n"
    "Returns\n-------\nNone\n\nNotes\n-----\nRaises NotImplementedError.\n\n"
    "References\n----------\nNone\n";
const char update_doc[] =
    "Rewrites the element of the object in a document.\n\n"
    "Abstract.\n\nParameters\n----------\ntree : lxml element tree\n    The document.\n"
    "node : lxml element\n    The element of the object.\nID : str\n    The object ID.\n\n"
    "Returns\n-------\nNone\n\nNotes\n-----\nRaises NotImplementedError.\n\n"
    "References\n----------\nNone\n";

PyMethodDef base_methods[] = {
    SaveM::def(savexml_doc),
    LoadM::def(loadxml_doc, METH_STATIC),
    GetAttribM::def(getattrib_doc),
    AddM::def(add_doc),
    UpdateM::def(update_doc),
    ReduceM::def("Helper for pickle."),
    {nullptr, nullptr, 0, nullptr},
};

const char base_doc[] = "\n    An abstract class for python_velt type.\n    \n    ";

}  // namespace

BaseVTab base_vtab = {
    base_c_loadxml, GetAttribM::slot, AddM::slot, UpdateM::slot, SaveM::slot,
};

PyTypeObject BaseType = pv::type_head();

PyMethodDef unpickle_base_def = {"_unpickle_PyVELTObject", PV_FASTCALL_CAST(unpickle_base),
                                 METH_FASTCALL | METH_KEYWORDS,
                                 "_unpickle_PyVELTObject(type, checksum, state)\n--\n\n"
                                 "Rebuilds a pickled PyVELTObject."};

bool ready_base() {
    return pv::ready_type(BaseType, pv::TypeSpec{"pyvelt.ductus.PyVELTObject", sizeof(BaseObj),
                                                 base_doc, nullptr, base_methods, nullptr,
                                                 base_new, nullptr});
}

PyObject* id_text(PyObject* ID) {
    if (ID == Py_None) return PyUnicode_FromString("None");
    return PyObject_Str(ID);
}

PyObject* query(PyObject* tree, PyObject* cls, PyObject* ID, const char* tail) {
    pv::Ref idt(id_text(ID));
    pv::Ref q(PyUnicode_FromFormat("/%s/*[name()=$cls][@ID=$id]%s", ROOT_TAG, tail ? tail : ""));
    if (!idt || !q) return nullptr;
    return attr_call_kw(tree, "xpath", {q.get()}, {{"cls", cls}, {"id", idt.get()}});
}

PyObject* find_element(PyObject* fname_in, PyObject* ID, const char* cls, pv::Ref* tree_out) {
    pv::Ref fname(file_name(fname_in));
    pv::Ref tree(fname ? parse(fname.get(), false) : nullptr);
    pv::Ref name(PyUnicode_FromString(cls));
    pv::Ref found(tree && name ? query(tree.get(), name.get(), ID, nullptr) : nullptr);
    if (!found) return nullptr;
    Py_ssize_t k = PyObject_Length(found.get());
    if (k < 0) return nullptr;
    if (k == 0) {
        pv::Ref idt(id_text(ID));
        if (idt) pv::fail(PyExc_ValueError, "no match for ID: %U", idt.get());
        return nullptr;
    }
    if (tree_out) *tree_out = std::move(tree);
    return PySequence_GetItem(found.get(), 0);
}

PyObject* sub_element(PyObject* parent, PyObject* tag, PyObject* attrib) {
    return pv::call_method(mods.etree, "SubElement", parent, tag, attrib);
}

PyObject* not_equal(PyObject* a, PyObject* b) {
    pv::Ref eq(pv::call_method(a, "__eq__", b));
    if (!eq) return nullptr;
    const int t = PyObject_IsTrue(eq.get());
    return t < 0 ? nullptr : PyBool_FromLong(!t);
}

bool attr_texts(PyObject* self, const char* const* names, int k, pv::Ref* out) {
    pv::Ref spec(PyUnicode_FromString(""));
    if (!spec) return false;
    for (int i = 0; i < k; ++i) {
        out[i].reset(pv::getattr(self, names[i]));
        if (!out[i]) return false;
    }
    for (int i = 0; i < k; ++i) {
        out[i].reset(PyObject_Format(out[i].get(), spec.get()));
        if (!out[i]) return false;
    }
    return true;
}

// The attributes of a new element: ID first, then those of _getAttrib.
PyObject* element_attrib(PyObject* self, PyObject* ID) {
    pv::Ref d(PyDict_New());
    pv::Ref idt(id_text(ID));
    if (!d || !idt || PyDict_SetItemString(d.get(), "ID", idt.get()) < 0) return nullptr;
    pv::Ref more(vt(self)->_getAttrib(self));
    if (!more) return nullptr;
    pv::Ref r(pv::call_method(d.get(), "update", more.get()));
    return r ? d.release() : nullptr;
}

bool set_attributes(PyObject* self, PyObject* node) {
    pv::Ref attrib(vt(self)->_getAttrib(self));
    pv::Ref items(attrib ? pv::call_method(attrib.get(), "items") : nullptr);
    pv::Ref it(items ? PyObject_GetIter(items.get()) : nullptr);
    if (!it) return false;
    while (pv::Ref kv{PyIter_Next(it.get())}) {
        PyObject *k, *v;
        if (!PyArg_ParseTuple(kv.get(), "OO", &k, &v)) return false;
        pv::Ref r(pv::call_method(node, "set", k, v));
        if (!r) return false;
    }
    return !PyErr_Occurred();
}

PyObject* class_name(PyObject* self) {
    return pv::getattr(reinterpret_cast<PyObject*>(Py_TYPE(self)), "__name__");
}


}  // namespace ductus
