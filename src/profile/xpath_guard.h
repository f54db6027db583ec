// XPath evaluation that never holds the window's thread past a time limit.
//
// pugixml cannot interrupt an evaluation. Expressions whose work could grow faster than the
// document, or past ProfileStore::kXPathMaxWork on the document at hand, are refused before they
// run (xpath_cost). What is left is evaluated on the calling thread when its bound is small
// enough to end in milliseconds even on a machine far slower than any measured
// (kInlineWork); the rest goes to one long-lived worker thread while the calling thread waits at
// most ProfileStore::kXPathBudgetMs. On time-out the command fails and the document is left to
// the worker, which frees it when the evaluation ends; until then every expression is refused, so
// a page cannot pile up work that keeps a core busy. An evaluation still allocating after
// ProfileStore::kXPathBudgetMs is refused memory and fails, which ends what the bound weighs least
// surely (strings and node sets being built). A document is never used by two threads at once:
// the caller touches it again only after the evaluation ended, and never after a time-out.
#pragma once

#include "xpath_cost.h"

#include <QString>

#include <memory>
#include <vector>

#include <pugixml.hpp>

class XPathGuard {
public:
    using Document = std::shared_ptr<pugi::xml_document>;

    // Work, in node visits, that is done on the calling thread: about 2 ms at the slowest rate
    // measured, so even 400 times slower it stays within the wait.
    static constexpr double kInlineWork = 160000;

    XPathGuard();
    // Does not wait for an evaluation given up: the worker ends on its own after it.
    ~XPathGuard();
    XPathGuard(const XPathGuard &) = delete;
    XPathGuard &operator=(const XPathGuard &) = delete;

    // Refused: the expression does not compile, selects something other than nodes, would need
    // too much work, or came while one given up still runs. GivenUp: it ran out of time and the
    // worker still has the document, which must not be touched again.
    enum class Outcome { Selected, Refused, GivenUp };
    using Shape = xpath_cost::Shape;

    // The nodes an expression selects, in document order; attributes are no nodes here.
    // known: what is known of the document's shape without a walk (xpath_cost::walkShape); the
    // whole document is weighed only when that does not let the expression run.
    Outcome select(const Document &document, const Shape &known, const QString &xpath,
                   std::vector<pugi::xml_node> *nodes);
    // The first of them (an empty node when none matches).
    Outcome select(const Document &document, const Shape &known, const QString &xpath, pugi::xml_node *node);

private:
    struct Job;
    struct Worker;
    // False when given up: the job is then the worker's. A worker that cannot be started leaves
    // the job failed.
    bool runOnWorker(const std::shared_ptr<Job> &job);

    std::shared_ptr<Worker> m_worker;
};
