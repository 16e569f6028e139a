// SPDX-License-Identifier: MIT
#include "engine/runs/Scheduler.h"

#include "engine/runs/RunSteps.h"

#include <QHash>

#include <algorithm>
#include <chrono>
#include <cstdint>
#include <functional>
#include <climits>
#include <condition_variable>
#include <cstdlib>
#include <cstring>
#include <mutex>
#include <optional>
#include <sys/stat.h>
#include <thread>
#include <unistd.h>
#include <vector>

namespace vexalo {

namespace {

// Bytes held by the files in work at once: a small file's content, or a
// large file's blocks. A request larger than the budget is let in only when
// nothing else is held, so a run's memory stays within the budget plus its
// largest request.
class MemoryGate {
public:
    explicit MemoryGate(qint64 budget)
        : m_budget(budget)
    {
    }

    void acquire(qint64 bytes)
    {
        std::unique_lock lock(m_mutex);
        m_freed.wait(lock, [&] { return m_held == 0 || m_held + bytes <= m_budget; });
        m_held += bytes;
    }

    void release(qint64 bytes)
    {
        if (bytes == 0)
            return;
        {
            std::lock_guard lock(m_mutex);
            m_held -= bytes;
        }
        m_freed.notify_all();
    }

private:
    std::mutex m_mutex;
    std::condition_variable m_freed;
    qint64 m_held = 0;
    const qint64 m_budget;
};

constexpr qint64 parallelMemoryBudget = 32 * 1024 * 1024;
constexpr qint64 largeFileSize = 8 * 1024 * 1024;

using PendingResult = std::optional<std::pair<FileResult, int>>;

// The one sync of a run that syncs at the end. When it fails, nothing written
// is known to be on the disk: the held-back last line says so, so the user
// never takes the run as safe.
void syncAtEnd(const FilePath &folder, RunSummary &summary, PendingResult &pending)
{
    const IoStatus synced = syncFileSystemOf(folder);
    if (synced.ok() || !pending)
        return;
    FileResult &last = summary.results.last();
    if (last.outcome != Outcome::Failed) {
        last = failed(last.name, tr("written, but the disk could not be synced: %1").arg(synced.error));
        pending->first = last;
    }
}

// Reports each result as the run's caller asked: the last one is held back
// until the sync at the end, when there is one.
class Reporter {
public:
    Reporter(const FilePath &folder, const RunControl &control)
        : m_folder(folder)
        , m_control(control)
    {
    }
    void add(RunSummary &summary, FileResult result, int index, bool wrote, bool last)
    {
        m_wroteAny = m_wroteAny || wrote;
        summary.results.append(result);
        m_pending.emplace(std::move(result), index);
        if (!last || m_control.durability != Durability::AtEnd)
            report();
    }
    void finish(RunSummary &summary)
    {
        if (m_wroteAny && m_control.durability == Durability::AtEnd)
            syncAtEnd(m_folder, summary, m_pending);
        report();
    }

private:
    void report()
    {
        if (m_pending && m_control.fileDone)
            m_control.fileDone(m_pending->first, m_pending->second);
        m_pending.reset();
    }
    const FilePath &m_folder;
    const RunControl &m_control;
    PendingResult m_pending;
    bool m_wroteAny = false;
};

// Which files of a run may be in work at the same time. Two files that touch
// a common file are worked on in list order; only files that share nothing
// overlap, so a run over several files at once ends exactly as the run one
// file after another would. What a file touches is described by keys, found
// with a few stat calls per file, before it starts:
//  - the file's name, and for a link the name of the file it leads to;
//  - the (device, inode) of the file the name leads to, which every other
//    name of that file (a hard link, a link, a name that differs only in
//    case where the file system ignores case) shares;
//  - when the run uses backups, the backup's name and its (device, inode).
// Names are compared in their real folder and case-folded, so names equal
// under a file system's case rules share a key even before such a file
// exists (on a file system that tells case apart this only serialises a few
// files that need not be). A file waits for every earlier file still in work
// that shares a key with it.
class DependencyKeys {
public:
    DependencyKeys(const FilePath &folder, bool usesBackups)
        : m_folder(folder)
        , m_usesBackups(usesBackups)
    {
        m_realFolder = realFolder(folder.bytes());
    }

    // *named gets what the look-up of the name found (lstat), for the file's
    // processing to share; it is left alone when nothing is there.
    std::vector<QByteArray> keysFor(const FilePath &name, std::optional<struct stat> *named) const
    {
        std::vector<QByteArray> keys;
        const QByteArray path = (m_folder / name).bytes();
        addFile(keys, path, named);
        if (m_usesBackups)
            addFile(keys, path + ".old", nullptr);
        std::sort(keys.begin(), keys.end());
        keys.erase(std::unique(keys.begin(), keys.end()), keys.end());
        return keys;
    }

private:
    static QByteArray realFolder(const QByteArray &folder)
    {
        char *resolved = ::realpath(folder.isEmpty() ? "." : folder.constData(), nullptr);
        if (!resolved)
            return folder;
        QByteArray real(resolved);
        std::free(resolved);
        return real;
    }

    QByteArray nameKey(const QByteArray &path) const
    {
        const qsizetype slash = path.lastIndexOf('/');
        const QByteArray folder = slash < 0 ? QByteArray(".") : path.left(qMax<qsizetype>(slash, 1));
        const QByteArray real = folder == m_folder.bytes() ? m_realFolder : realFolder(folder);
        return 'n' + QString::fromUtf8(real + '/' + path.mid(slash + 1)).toCaseFolded().toUtf8();
    }

    void addFile(std::vector<QByteArray> &keys, const QByteArray &path, std::optional<struct stat> *named) const
    {
        keys.push_back(nameKey(path));
        struct stat info {};
        if (::lstat(path.constData(), &info) != 0)
            return;
        if (named)
            *named = info;
        if (S_ISLNK(info.st_mode)) {
            // Where the link leads, even to a file that does not exist yet
            // (another file of the run may create it).
            QByteArray at = path;
            for (int hops = 0; hops < 40; ++hops) {
                char buffer[PATH_MAX];
                const ssize_t n = ::readlink(at.constData(), buffer, sizeof buffer);
                if (n < 0)
                    break;
                const QByteArray to(buffer, n);
                const qsizetype slash = at.lastIndexOf('/');
                at = to.startsWith('/') || slash < 0 ? to : at.left(slash + 1) + to;
                struct stat next {};
                if (::lstat(at.constData(), &next) != 0 || !S_ISLNK(next.st_mode))
                    break;
            }
            keys.push_back(nameKey(at));
            if (::stat(path.constData(), &info) != 0)
                return;
        }
        QByteArray inode(1 + sizeof info.st_dev + sizeof info.st_ino, 'i');
        std::memcpy(inode.data() + 1, &info.st_dev, sizeof info.st_dev);
        std::memcpy(inode.data() + 1 + sizeof info.st_dev, &info.st_ino, sizeof info.st_ino);
        keys.push_back(inode);
    }

    const FilePath m_folder;
    const bool m_usesBackups;
    QByteArray m_realFolder;
};

// Worker threads kept for the process's life. The command line makes one
// run per folder it is given, and a source tree has hundreds: starting and
// joining two threads for each cost more than the files of a small folder.
// A run that finds the pool in use (two runs at once) starts threads of its
// own.
class WorkerPool {
public:
    // Never destroyed: a run still going on in another thread when the
    // process exits (a window closed mid-run, a test's hung run) must not
    // make exit wait for it; the threads end with the process.
    static WorkerPool &shared()
    {
        static WorkerPool &pool = *new WorkerPool;
        return pool;
    }

    // Runs task on `count` threads while whileRunning runs on this one, and
    // returns once every task has returned.
    static void run(int count, const std::function<void()> &task, const std::function<void()> &whileRunning)
    {
        WorkerPool &pool = shared();
        std::unique_lock busy(pool.m_inUse, std::try_to_lock);
        if (!busy.owns_lock()) {
            std::vector<std::thread> own;
            for (int t = 0; t < count; ++t)
                own.emplace_back(task);
            whileRunning();
            for (std::thread &t : own)
                t.join();
            return;
        }
        pool.start(count, task);
        whileRunning();
        pool.wait();
    }

private:
    void start(int count, const std::function<void()> &task)
    {
        {
            std::lock_guard lock(m_mutex);
            while (int(m_threads.size()) < count)
                m_threads.emplace_back([this, id = int(m_threads.size())] { serve(id); });
            m_task = &task;
            m_wanted = count;
            m_running = count;
            ++m_generation;
        }
        m_wake.notify_all();
    }

    void wait()
    {
        std::unique_lock lock(m_mutex);
        m_finished.wait(lock, [&] { return m_running == 0; });
        m_task = nullptr;
    }

    void serve(int id)
    {
        std::uint64_t seen = 0;
        std::unique_lock lock(m_mutex);
        for (;;) {
            m_wake.wait(lock, [&] { return m_generation != seen; });
            seen = m_generation;
            if (id >= m_wanted)
                continue;
            const std::function<void()> *task = m_task;
            lock.unlock();
            (*task)();
            lock.lock();
            if (--m_running == 0)
                m_finished.notify_one();
        }
    }

    std::mutex m_inUse; // held by the run the pool works for
    std::mutex m_mutex; // guards what follows
    std::condition_variable m_wake;
    std::condition_variable m_finished;
    std::vector<std::thread> m_threads;
    const std::function<void()> *m_task = nullptr;
    std::uint64_t m_generation = 0;
    int m_wanted = 0;
    int m_running = 0;
};

// Several files in work at once. Worker threads take the names in list
// order, a few at a time; a file starts once no earlier file still in work
// shares a key with it (DependencyKeys), and this thread reports the results
// in list order.
//
// Why a few at a time: for a file that holds no match the work is four
// system calls, so a lock handed between the workers for each name, and a
// wake-up of this thread for each result, cost as much as the file. A worker
// takes a batch (at most batchFiles names, ended by the name that brings it
// to batchBytes of content) and wakes this thread when the batch ends or when
// reportEvery has passed since its last wake-up, so the results of a slow
// file system still show as they come.
class ParallelRun {
public:
    ParallelRun(const FilePath &folder, const QList<FilePath> &names, const RunControl &control, bool usesBackups,
                const ProcessOne &processOne)
        : m_names(names)
        , m_control(control)
        , m_processOne(processOne)
        , m_count(int(names.size()))
        , m_entries(size_t(m_count))
        , m_keysOf(size_t(m_count))
        , m_namedOf(size_t(m_count))
        , m_dependencies(folder, usesBackups)
        , m_reporter(folder, control)
    {
    }

    RunSummary run()
    {
        const int threads = std::min(m_control.parallelFiles, m_count);
        RunSummary summary;
        WorkerPool::run(
            threads, [this] { work(); }, [&] { collect(summary); });
        m_reporter.finish(summary);
        return summary;
    }

private:
    static constexpr int batchFiles = 32;
    static constexpr qint64 batchBytes = 1024 * 1024;
    static constexpr std::chrono::milliseconds reportEvery{20};

    struct Entry {
        std::optional<FileResult> result;
        bool wrote = false;
    };

    void work()
    {
        int first = 0;
        int end = 0;
        while (take(&first, &end)) {
            for (int index = first; index < end; ++index)
                processOne(index, index + 1 == end);
        }
    }

    void processOne(int index, bool lastOfBatch)
    {
        waitTurn(index);
        qint64 held = 0;
        const ReadGate readGate = [&](qint64 size) -> ReadBuffer * {
            m_gate.acquire(size);
            held += size;
            // A file over the budget is in work alone, so the one kept
            // buffer is free for it.
            return size > parallelMemoryBudget ? &m_largeFiles : nullptr;
        };
        bool wrote = false;
        const std::optional<struct stat> &named = m_namedOf[size_t(index)];
        FileResult result = m_processOne(m_names.at(index), syncEach(), &wrote, readGate, named ? &*named : nullptr);
        m_gate.release(held);
        done(index, std::move(result), wrote, lastOfBatch);
    }

    bool syncEach() const { return m_control.durability == Durability::EachFile; }

    // Taking names and entering their keys is one step, in list order; the
    // stat calls it takes are few beside the files' work. Every name taken
    // is worked on, even after a stop: a name after it may already be done,
    // and no file is changed without its result being reported.
    bool take(int *first, int *end)
    {
        std::unique_lock order(m_entering);
        {
            std::lock_guard lock(m_mutex);
            if (m_stop || m_next >= m_count)
                return false;
            *first = m_next;
        }
        int index = *first;
        qint64 bytes = 0;
        std::vector<std::vector<QByteArray>> batch;
        while (index < m_count && index - *first < batchFiles && bytes < batchBytes) {
            std::optional<struct stat> &named = m_namedOf[size_t(index)];
            batch.push_back(m_dependencies.keysFor(m_names.at(index), &named));
            if (named && S_ISREG(named->st_mode))
                bytes += named->st_size;
            ++index;
        }
        std::lock_guard lock(m_mutex);
        // Stopped while the keys were looked up: the reporting thread may
        // have ended at m_next already, and would never report these.
        if (m_stop)
            return false;
        for (size_t i = 0; i < batch.size(); ++i) {
            for (const QByteArray &key : batch[i])
                m_holders[key].append(*first + int(i));
            m_keysOf[size_t(*first) + i] = std::move(batch[i]);
        }
        m_next = index;
        *end = index;
        return true;
    }

    // For each key, the files in work (taken, not yet done) that have it, in
    // list order: a file may start once it is first in each of its queues.
    bool mayStart(int index) const
    {
        for (const QByteArray &key : m_keysOf[size_t(index)]) {
            if (m_holders.value(key).constFirst() != index)
                return false;
        }
        return true;
    }

    void waitTurn(int index)
    {
        std::unique_lock lock(m_mutex);
        if (mayStart(index))
            return;
        ++m_waiting;
        m_queuesChanged.wait(lock, [&] { return mayStart(index); });
        --m_waiting;
    }

    void done(int index, FileResult result, bool wrote, bool lastOfBatch)
    {
        bool wake = false;
        bool wakeWaiting;
        {
            std::lock_guard lock(m_mutex);
            m_entries[size_t(index)].result = std::move(result);
            m_entries[size_t(index)].wrote = wrote;
            for (const QByteArray &key : m_keysOf[size_t(index)]) {
                const auto it = m_holders.find(key);
                it->removeFirst(); // this file, first since it started
                if (it->isEmpty())
                    m_holders.erase(it);
            }
            // Only the result the reporting thread waits for wakes it, and
            // only at the end of a batch or after a while, so that it reports
            // a stretch of results per wake-up rather than one.
            if (index == m_awaited) {
                const auto now = std::chrono::steady_clock::now();
                wake = lastOfBatch || now - m_lastWake >= reportEvery;
                if (wake)
                    m_lastWake = now;
            } else if (m_awaited >= 0 && lastOfBatch && m_entries[size_t(m_awaited)].result) {
                // The awaited result came in the middle of a batch, this one's
                // or another's: told now, at the latest.
                wake = true;
            }
            wakeWaiting = m_waiting > 0;
        }
        if (wakeWaiting)
            m_queuesChanged.notify_all();
        if (wake)
            m_done.notify_one();
    }

    // The results in list order, each reported as soon as it is there.
    void collect(RunSummary &summary)
    {
        for (int i = 0; i < m_count; ++i) {
            Entry entry;
            {
                std::unique_lock lock(m_mutex);
                // After a stop, only the names already taken are waited for.
                while (!m_entries[size_t(i)].result && !(m_stop && i >= m_next)) {
                    m_awaited = i;
                    // A result that came early in a batch wakes no one until
                    // the batch ends, and the rest of it may take long (a file
                    // another program keeps locked): looked for again after a
                    // while.
                    m_done.wait_for(lock, reportEvery);
                }
                m_awaited = -1;
                if (!m_entries[size_t(i)].result) {
                    summary.stopped = true;
                    return;
                }
                entry = std::move(m_entries[size_t(i)]);
            }
            m_reporter.add(summary, std::move(*entry.result), i, entry.wrote, i + 1 == m_count);
            if (i + 1 < m_count && m_control.stopRequested && m_control.stopRequested()) {
                std::lock_guard lock(m_mutex);
                m_stop = true;
            }
        }
    }

    const QList<FilePath> &m_names;
    const RunControl &m_control;
    const ProcessOne &m_processOne;
    const int m_count;
    std::vector<Entry> m_entries;
    std::vector<std::vector<QByteArray>> m_keysOf;
    std::vector<std::optional<struct stat>> m_namedOf; // written in take(), read by the file's own worker
    const DependencyKeys m_dependencies;
    Reporter m_reporter;
    MemoryGate m_gate{parallelMemoryBudget};
    ReadBuffer m_largeFiles;

    std::mutex m_mutex; // guards everything below, and m_entries, m_keysOf
    std::condition_variable m_done;
    std::condition_variable m_queuesChanged;
    QHash<QByteArray, QList<int>> m_holders;
    int m_next = 0;     // the next name a worker takes
    int m_awaited = -1; // the result the reporting thread sleeps for
    int m_waiting = 0;  // workers asleep until a file before theirs is done
    std::chrono::steady_clock::time_point m_lastWake{};
    bool m_stop = false;
    std::mutex m_entering;
};

} // namespace

RunSummary runEach(const FilePath &folder, const QList<FilePath> &names, const RunControl &control, bool usesBackups,
                   const ProcessOne &processOne)
{
    if (control.parallelFiles > 1 && names.size() > 1)
        return ParallelRun(folder, names, control, usesBackups, processOne).run();
    RunSummary summary;
    const bool syncEach = control.durability == Durability::EachFile;
    // Large files read one after another share one buffer; small ones are
    // cheap to allocate and leave no memory held after them.
    ReadBuffer largeFiles;
    const ReadGate sequentialGate = [&](qint64 size) -> ReadBuffer * {
        return size >= largeFileSize ? &largeFiles : nullptr;
    };
    Reporter reporter(folder, control);
    for (int i = 0; i < names.size(); ++i) {
        bool wrote = false;
        FileResult result = processOne(names.at(i), syncEach, &wrote, sequentialGate, nullptr);
        // Asked here rather than before the next file, so that a stopped run's
        // last line, like a finished run's, waits for the sync at the end.
        const bool stopping = i + 1 < names.size() && control.stopRequested && control.stopRequested();
        reporter.add(summary, std::move(result), i, wrote, i + 1 == names.size() || stopping);
        if (stopping) {
            summary.stopped = true;
            break;
        }
    }
    reporter.finish(summary);
    return summary;
}

} // namespace vexalo
