#include "xpath_guard.h"

#include "crash_handler.h"
#include "profile_store.h"
#include "xpath_cost.h"

#include <algorithm>
#include <chrono>
#include <condition_variable>
#include <cstdlib>
#include <exception>
#include <mutex>
#include <system_error>
#include <thread>

namespace {

using Clock = std::chrono::steady_clock;

// pugixml calls out of an evaluation only to allocate memory. An evaluation still running on
// this thread past its deadline is refused memory: its strings stop growing and its node sets
// stop filling, so it ends soon and fails. Building strings and sets is what WorkBound can only
// weigh by how pugixml goes about it; visiting nodes, which allocates nothing, it counts.
thread_local Clock::time_point t_deadline = Clock::time_point::max();

void *allocate(size_t size)
{
    if (t_deadline != Clock::time_point::max() && Clock::now() > t_deadline)
        return nullptr;
    return std::malloc(size);
}

// pugixml's memory functions are process-wide: set before main, while no other thread uses them.
// Its own are malloc and free, so what was allocated before is freed alike.
[[maybe_unused]] const bool g_allocatorSet = [] {
    pugi::set_memory_management_functions(allocate, std::free);
    return true;
}();

} // namespace

struct XPathGuard::Job {
    Document document;
    QByteArray xpath;
    std::vector<pugi::xml_node> nodes;
    bool ok = false;
    bool done = false; // guarded by the worker's mutex

    void run()
    {
        struct Deadline {
            Deadline() { t_deadline = Clock::now() + std::chrono::milliseconds(ProfileStore::kXPathBudgetMs); }
            ~Deadline() { t_deadline = Clock::time_point::max(); }
        } deadline;
        try {
            const pugi::xpath_node_set set = document->select_nodes(xpath.constData());
            nodes.reserve(set.size());
            for (const pugi::xpath_node &match : set) {
                if (match.node())
                    nodes.push_back(match.node());
            }
            ok = true;
        } catch (const std::exception &) {
            // A compile error, no memory, or out of time: no selection either way.
            nodes.clear();
        }
    }
};

// Shared by the guard and its thread, so that a thread still busy with an abandoned evaluation
// outlives the guard.
struct XPathGuard::Worker {
    std::mutex mutex;
    std::condition_variable wake; // a job came, or the guard ended
    std::condition_variable finished; // the job ended
    std::shared_ptr<Job> job; // the one taken or running; kept until it ends, even when abandoned
    bool stop = false;
    std::thread thread;

    static void loop(const std::shared_ptr<Worker> &self)
    {
        platform::prepareThreadForCrashes();
        std::unique_lock<std::mutex> lock(self->mutex);
        for (;;) {
            self->wake.wait(lock, [&self] { return self->stop || self->job; });
            if (!self->job)
                return;
            std::shared_ptr<Job> job = self->job;
            lock.unlock();
            job->run();
            lock.lock();
            job->done = true;
            // An abandoned job's document is freed here, on this thread.
            self->job.reset();
            lock.unlock();
            self->finished.notify_all();
            job.reset();
            lock.lock();
        }
    }
};

XPathGuard::XPathGuard() : m_worker(std::make_shared<Worker>()) { }

XPathGuard::~XPathGuard()
{
    std::unique_lock<std::mutex> lock(m_worker->mutex);
    m_worker->stop = true;
    const bool busy = m_worker->job != nullptr;
    lock.unlock();
    m_worker->wake.notify_all();
    if (!m_worker->thread.joinable())
        return;
    if (busy)
        m_worker->thread.detach();
    else
        m_worker->thread.join();
}

bool XPathGuard::runOnWorker(const std::shared_ptr<Job> &job)
{
    std::unique_lock<std::mutex> lock(m_worker->mutex);
    // Started on first need: most documents never need it.
    if (!m_worker->thread.joinable()) {
        try {
            m_worker->thread = std::thread(&Worker::loop, m_worker);
        } catch (const std::system_error &) {
            job->ok = false;
            return true;
        }
    }
    m_worker->job = job;
    m_worker->wake.notify_one();
    if (!m_worker->finished.wait_for(lock, std::chrono::milliseconds(ProfileStore::kXPathBudgetMs),
                                     [&job] { return job->done; })) {
        qWarning("profile: gave up an XPath expression after %d ms: %.200s", ProfileStore::kXPathBudgetMs,
                 job->xpath.constData());
        return false;
    }
    return true;
}

XPathGuard::Outcome XPathGuard::select(const Document &document, const Shape &known, const QString &xpath,
                                       std::vector<pugi::xml_node> *nodes)
{
    nodes->clear();
    auto job = std::make_shared<Job>();
    job->xpath = xpath.toUtf8();
    {
        // An expression given up is still running.
        std::lock_guard<std::mutex> lock(m_worker->mutex);
        if (m_worker->job)
            return Outcome::Refused;
    }
    if (!xpath_cost::hasBoundedCost(job->xpath))
        return Outcome::Refused;
    // Most expressions are cheap on what is known of the document; only the others are weighed
    // against all of it.
    double work = xpath_cost::workBound(job->xpath, known);
    if (work > kInlineWork)
        work = std::min(work, xpath_cost::workBound(job->xpath, xpath_cost::shapeOf(*document)));
    if (work > double(ProfileStore::kXPathMaxWork))
        return Outcome::Refused;
    job->document = document;
    if (work <= kInlineWork)
        job->run();
    else if (!runOnWorker(job))
        return Outcome::GivenUp;
    if (!job->ok)
        return Outcome::Refused;
    nodes->swap(job->nodes);
    return Outcome::Selected;
}

XPathGuard::Outcome XPathGuard::select(const Document &document, const Shape &known, const QString &xpath,
                                       pugi::xml_node *node)
{
    std::vector<pugi::xml_node> nodes;
    const Outcome outcome = select(document, known, xpath, &nodes);
    *node = nodes.empty() ? pugi::xml_node() : nodes.front();
    return outcome;
}
