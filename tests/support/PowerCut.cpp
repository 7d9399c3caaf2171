#include "PowerCut.h"

#include <QDir>
#include <QDirIterator>
#include <QFile>
#include <QFileInfo>
#include <algorithm>
#include <set>
#include <stdexcept>
#include <sys/stat.h>

namespace {

constexpr int kSector = 512;

QString parentOf(const QString &relative)
{
    const int slash = int(relative.lastIndexOf(QLatin1Char('/')));
    return slash < 0 ? QString() : relative.left(slash);
}

} // namespace

PowerCut::PowerCut(const QString &root) : m_root(QDir::cleanPath(QDir(root).absolutePath()))
{
    QDirIterator it(m_root, QDir::AllEntries | QDir::Hidden | QDir::System | QDir::NoDotAndDotDot, QDirIterator::Subdirectories);
    while (it.hasNext()) {
        const QString path = it.next();
        const QString relative = QDir(m_root).relativeFilePath(path);
        if (it.fileInfo().isDir()) {
            m_initial[relative + QLatin1Char('/')] = {};
            continue;
        }
        QFile f(path);
        if (!f.open(QIODevice::ReadOnly))
            throw std::runtime_error("cannot read the folder's files");
        m_initial[relative] = f.readAll();
        struct stat st {};
        if (::stat(QFile::encodeName(path).constData(), &st) == 0)
            m_initialInodes[relative] = uint64_t(st.st_ino);
    }
    filetrace::setTracerForTests([this](const filetrace::Event &e) { record(e); });
}

PowerCut::~PowerCut()
{
    stop();
}

void PowerCut::stop()
{
    filetrace::setTracerForTests(nullptr);
    const std::lock_guard<std::mutex> hold(m_lock);
    m_recording = false;
}

void PowerCut::note(const QString &what)
{
    const std::lock_guard<std::mutex> hold(m_lock);
    if (m_recording)
        m_steps.push_back({{}, what});
}

int PowerCut::changes() const
{
    return int(std::count_if(m_steps.begin(), m_steps.end(), [](const Step &s) { return s.note.isEmpty(); }));
}

void PowerCut::record(const filetrace::Event &e)
{
    // Paths relative to the folder; a change elsewhere is kept with its path empty
    // (an inode there may be one of ours again later).
    auto relative = [this](const std::string &path, bool &inside) {
        const QString clean = QDir::cleanPath(QFileInfo(QFile::decodeName(path.c_str())).absoluteFilePath());
        inside = clean == m_root || clean.startsWith(m_root + QLatin1Char('/'));
        return !inside || clean == m_root ? QString() : QDir(m_root).relativeFilePath(clean);
    };
    filetrace::Event copy = e;
    bool inside = true, insideTo = true;
    if (!e.path.empty())
        copy.path = relative(e.path, inside).toStdString();
    if (!e.to.empty())
        copy.to = relative(e.to, insideTo).toStdString();
    if (!inside || !insideTo) {
        if (e.kind != filetrace::Event::Opened)
            return;
        copy.path = "\x01outside"; // only to forget the inode
    }
    const std::lock_guard<std::mutex> hold(m_lock);
    if (m_recording)
        m_steps.push_back({std::move(copy), {}});
}

// ---- the replay

PowerCutReplay::PowerCutReplay(const PowerCut &record) : m_record(record)
{
    for (const auto &[path, content] : record.initial()) {
        if (path.endsWith(QLatin1Char('/'))) {
            m_durable[path.chopped(1)] = m_live[path.chopped(1)] = {true, -1};
            continue;
        }
        m_files.push_back({content, {}});
        const int id = int(m_files.size()) - 1;
        m_durable[path] = m_live[path] = {false, id};
        const auto inode = record.initialInodes().find(path);
        if (inode != record.initialInodes().end())
            m_inodes[inode->second] = id;
    }
}

int PowerCutReplay::Change::sectors() const
{
    if (truncate || data.isEmpty())
        return 1;
    return int((offset + data.size() - 1) / kSector - offset / kSector + 1);
}

int PowerCutReplay::fileOf(uint64_t inode) const
{
    const auto it = m_inodes.find(inode);
    return it == m_inodes.end() ? -1 : it->second;
}

bool PowerCutReplay::next()
{
    const std::vector<PowerCut::Step> &steps = m_record.steps();
    while (m_next < steps.size()) {
        const PowerCut::Step &s = steps[m_next++];
        if (!s.note.isEmpty()) {
            m_notes << s.note;
            continue;
        }
        apply(s.event);
        ++m_cut;
        return true;
    }
    return false;
}

void PowerCutReplay::apply(const filetrace::Event &e)
{
    using K = filetrace::Event;
    const QString path = QString::fromStdString(e.path);
    const QString to = QString::fromStdString(e.to);
    static const char *names[] = {"open", "write", "truncate", "sync", "rename", "remove", "mkdir", "sync folder"};
    m_lastChange = QStringLiteral("%1 %2%3 (inode %4, offset %5, %6 bytes)")
                       .arg(QLatin1String(names[e.kind]), path, to.isEmpty() ? QString() : QStringLiteral(" -> ") + to)
                       .arg(e.inode).arg(e.offset).arg(e.data.size());
    switch (e.kind) {
    case K::Opened: {
        if (path == QLatin1String("\x01outside")) {
            m_inodes.erase(e.inode);
            return;
        }
        int id = fileOf(e.inode);
        if (e.created || id < 0) {
            m_files.push_back({});
            id = int(m_files.size()) - 1;
            m_inodes[e.inode] = id;
        }
        const auto live = m_live.find(path);
        if (live == m_live.end() || live->second.file != id) {
            m_live[path] = {false, id};
            m_pendingNames.push_back({K::Opened, path, {}, parentOf(path), id});
        }
        return;
    }
    case K::Wrote:
    case K::Truncated: {
        const int id = fileOf(e.inode);
        if (id >= 0)
            m_files[size_t(id)].pending.push_back({e.kind == K::Truncated, e.offset, QByteArray::fromStdString(e.data)});
        return;
    }
    case K::Synced: {
        const int id = fileOf(e.inode);
        if (id < 0)
            return;
        File &f = m_files[size_t(id)];
        for (const Change &c : f.pending)
            applyChange(f.durable, c, c.sectors());
        f.pending.clear();
        return;
    }
    case K::Renamed: {
        const auto from = m_live.find(path);
        const Entry moved = from != m_live.end() ? from->second : Entry{false, fileOf(e.inode)};
        if (from != m_live.end())
            m_live.erase(from);
        m_live[to] = moved;
        m_pendingNames.push_back({K::Renamed, path, to, parentOf(to), moved.file});
        return;
    }
    case K::Removed:
        m_live.erase(path);
        m_pendingNames.push_back({K::Removed, path, {}, parentOf(path), -1});
        return;
    case K::MadeFolder:
        m_live[path] = {true, -1};
        m_pendingNames.push_back({K::MadeFolder, path, {}, parentOf(path), -1});
        return;
    case K::SyncedFolder: {
        std::vector<NameChange> still;
        for (const NameChange &c : m_pendingNames) {
            if (c.parent == path)
                applyName(m_durable, c);
            else
                still.push_back(c);
        }
        m_pendingNames = std::move(still);
        return;
    }
    }
}

QString PowerCutReplay::lastChange() const
{
    return m_lastChange;
}

void PowerCutReplay::applyChange(QByteArray &content, const Change &c, int sectors)
{
    if (c.truncate) {
        content.resize(qsizetype(c.offset), '\0');
        return;
    }
    // The first `sectors` sectors of the write reached the disk.
    const int64_t end = std::min<int64_t>(c.offset + c.data.size(), (c.offset / kSector + sectors) * kSector);
    if (end <= c.offset)
        return;
    if (content.size() < end)
        content.resize(qsizetype(end), '\0');
    std::copy(c.data.begin(), c.data.begin() + (end - c.offset), content.begin() + c.offset);
}

void PowerCutReplay::applyName(std::map<QString, Entry> &names, const NameChange &c)
{
    using K = filetrace::Event;
    switch (c.kind) {
    case K::Opened:
        names[c.path] = {false, c.file};
        break;
    case K::Renamed:
        names.erase(c.path);
        names[c.to] = {false, c.file};
        break;
    case K::Removed:
        names.erase(c.path);
        break;
    case K::MadeFolder:
        names[c.path] = {true, -1};
        break;
    default:
        break;
    }
}

// Options per dimension: each file with unsynced writes (none kept, or up to which
// sector of which write), then each unsynced folder change (not or yes).
std::vector<int> PowerCutReplay::options() const
{
    std::vector<int> out;
    for (const File &f : m_files) {
        if (f.pending.empty())
            continue;
        int n = 1;
        for (const Change &c : f.pending)
            n += c.sectors();
        out.push_back(n);
    }
    out.insert(out.end(), m_pendingNames.size(), 2);
    return out;
}

double PowerCutReplay::stateCount() const
{
    double n = 1;
    for (const int o : options())
        n = std::min(n * o, 1e9);
    return n;
}

std::vector<PowerCutReplay::Choice> PowerCutReplay::states(int most, QRandomGenerator &random) const
{
    const std::vector<int> opts = options();
    std::vector<Choice> out;
    if (stateCount() <= most) {
        Choice c(opts.size(), 0);
        for (;;) {
            out.push_back(c);
            size_t i = 0;
            while (i < c.size() && ++c[i] == opts[i])
                c[i++] = 0;
            if (i == c.size())
                return out;
        }
    }
    std::set<Choice> seen;
    Choice all(opts.size());
    for (size_t i = 0; i < opts.size(); ++i)
        all[i] = opts[i] - 1;
    for (const Choice &c : {all, Choice(opts.size(), 0)})
        if (seen.insert(c).second)
            out.push_back(c);
    // Everything kept but one file's writes or one folder change, the latest first: the
    // states a cut most often leaves that a program forgets.
    for (size_t i = opts.size(); i-- > 0 && int(out.size()) < most;) {
        Choice c = all;
        c[i] = 0;
        if (seen.insert(c).second)
            out.push_back(c);
    }
    for (int tries = 0; int(out.size()) < most && tries < most * 20; ++tries) {
        Choice c(opts.size());
        for (size_t i = 0; i < opts.size(); ++i) {
            // Often whole writes or none, so that states near the ends are not rare.
            const quint32 pick = random.bounded(4);
            c[i] = pick == 0 ? 0 : pick == 1 ? opts[i] - 1 : int(random.bounded(opts[i]));
        }
        if (seen.insert(c).second)
            out.push_back(c);
    }
    return out;
}

void PowerCutReplay::write(const Choice &choice, const QString &folder) const
{
    std::vector<QByteArray> contents;
    contents.reserve(m_files.size());
    size_t d = 0;
    for (const File &f : m_files) {
        QByteArray content = f.durable;
        if (!f.pending.empty()) {
            int keep = choice[d++];
            for (const Change &c : f.pending) {
                if (keep <= 0)
                    break;
                applyChange(content, c, std::min(keep, c.sectors()));
                keep -= c.sectors();
            }
        }
        contents.push_back(std::move(content));
    }
    std::map<QString, Entry> names = m_durable;
    for (const NameChange &c : m_pendingNames)
        if (choice[d++] == 1)
            applyName(names, c);

    const QDir into(folder);
    for (const auto &[path, entry] : names) {
        // Lost with its folder when that folder's own entry did not reach the disk.
        bool reachable = true;
        for (QString up = parentOf(path); !up.isEmpty() && reachable; up = parentOf(up)) {
            const auto it = names.find(up);
            reachable = it != names.end() && it->second.folder;
        }
        if (!reachable)
            continue;
        if (entry.folder) {
            into.mkpath(path);
            continue;
        }
        QFile f(into.filePath(path));
        if (!f.open(QIODevice::WriteOnly) || f.write(contents[size_t(entry.file)]) != contents[size_t(entry.file)].size())
            throw std::runtime_error("cannot write the state of the disk");
    }
}
