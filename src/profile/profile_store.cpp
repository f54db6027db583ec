#include "profile_store.h"

#include "crash_handler.h"
#include "profile_package.h"
#include "regular_file.h"

#include <QDir>
#include <QFileInfo>
#include <QMutexLocker>
#include <QSaveFile>

#include <pugixml.hpp>

#include <algorithm>
#include <atomic>
#include <cctype>
#include <chrono>
#include <cmath>
#include <condition_variable>
#include <cstring>
#include <exception>
#include <iterator>
#include <limits>
#include <mutex>
#include <new>
#include <string>
#include <system_error>
#include <thread>
#include <unordered_set>
#include <vector>

namespace {

const QString kQueryFailed = QStringLiteral("queryProfile load xml file failed!");
const QString kCountFailed = QStringLiteral("nodeCounterProfile load xml file failed!");
const QString kModifyFailed = QStringLiteral("modifyProfile load xml file failed!");
const QString kModifyExFailed = QStringLiteral("modifyProfileEx load xml file failed!");
const QString kReplaceFailed = QStringLiteral("modifyReplaceProfile load xml file failed!");
const QString kSaveAsFailed = QStringLiteral("saveXmlAs load xml file failed!");
const QString kSaveAsDestinationFailed = QStringLiteral("saveXmlAs desFilePath is failed!");

using Document = ProfileStore::Document;

// Collects serialised XML up to a limit; past it, the output is abandoned by throwing out of
// pugixml's writer (its output routines hold nothing that unwinding would leak).
class BoundedWriter : public pugi::xml_writer {
public:
    struct Overflow {};
    std::string result;

    void write(const void *data, size_t size) override
    {
        if (size > size_t(ProfileStore::kMaxTextBytes) - result.size())
            throw Overflow();
        result.append(static_cast<const char *>(data), size);
    }
};

// Nesting of element and text levels below root, counted without recursion; stops as soon as
// the limit is passed.
bool withinDepth(const pugi::xml_node &root, int limit)
{
    int depth = 0;
    pugi::xml_node node = root;
    for (;;) {
        if (pugi::xml_node child = node.first_child()) {
            if (++depth > limit)
                return false;
            node = child;
            continue;
        }
        while (node != root && !node.next_sibling()) {
            node = node.parent();
            --depth;
        }
        if (node == root)
            return true;
        node = node.next_sibling();
    }
}

// A parse that also refuses documents nested deeper than the profiles may be.
bool parseUtf8(pugi::xml_document *document, const QByteArray &utf8)
{
    // Like parsing from a C string: the text ends at its first NUL.
    return document->load_buffer(utf8.constData(), qstrlen(utf8.constData()), pugi::parse_default,
                                 pugi::encoding_utf8)
        && withinDepth(*document, ProfileStore::kMaxDepth);
}

bool serialise(const pugi::xml_document &document, QByteArray *text)
{
    BoundedWriter writer;
    try {
        document.save(writer);
    } catch (const BoundedWriter::Overflow &) {
        return false;
    }
    *text = QByteArray(writer.result.data(), int(writer.result.size()));
    return true;
}

// A change may not leave what no parser takes back: a profile without its top element, or text
// beside it (removing "/profile", or a subtree set on "/").
bool hasOneTopElement(const pugi::xml_document &document)
{
    int elements = 0;
    for (pugi::xml_node child : document.children()) {
        if (child.type() == pugi::node_element)
            ++elements;
        else if (child.type() == pugi::node_pcdata || child.type() == pugi::node_cdata)
            return false;
    }
    return elements == 1;
}

// XPath evaluation cannot be interrupted. Expressions whose work could grow faster than the
// document, or past ProfileStore::kXPathMaxWork on the document at hand, are refused before they
// run (hasBoundedCost, WorkBound). Should one still run long (a much slower machine), the window
// does not wait for it: each runs on a thread of its own while the window's thread waits a
// bounded time; on time-out the document is left to that thread, which frees it, and the command
// fails. A document is never used by two threads at once: the window's thread touches it again
// only after the evaluation ended.
struct Evaluation {
    Document document;
    QByteArray xpath;
    std::vector<pugi::xml_node> nodes;
    bool ok = false;
    bool done = false;
    std::mutex mutex;
    std::condition_variable finished;
    bool abandoned = false; // the window's thread stopped waiting
};

// Evaluations given up that are still running. While one runs, new expressions are refused, so
// a page cannot pile up threads that each keep a core busy.
std::atomic<int> g_runaways{0};

// The body of an evaluation's own thread.
void evaluate(const std::shared_ptr<Evaluation> &job)
{
    platform::prepareThreadForCrashes();
    std::vector<pugi::xml_node> nodes;
    bool ok = false;
    try {
        const pugi::xpath_node_set set = job->document->select_nodes(job->xpath.constData());
        nodes.reserve(set.size());
        for (const pugi::xpath_node &match : set) {
            if (match.node())
                nodes.push_back(match.node());
        }
        ok = true;
    } catch (const std::exception &) {
        // A compile error, or no memory: no selection either way.
    }
    std::lock_guard<std::mutex> lock(job->mutex);
    job->nodes.swap(nodes);
    job->ok = ok;
    job->done = true;
    if (job->abandoned)
        --g_runaways;
    job->finished.notify_one();
}

// Expressions whose work grows faster than the document are refused before they run. A path
// inside a predicate is evaluated once for every candidate, so an absolute or descendant path
// there squares the work (//a[count(//a) > 1] visits every node once per node), and so does a
// sibling, following or preceding axis anywhere. Inside a predicate only the node's own
// attributes, children, parent and itself may be asked for. Each descendant or ancestor step
// after the first costs up to the document's nodes times its depth, so there may be two; each
// union sorts everything selected so far, so there may be four. What these rules let through can
// still multiply (predicates nested in predicates); WorkBound weighs that against the document.
bool hasBoundedCost(const QByteArray &xpath)
{
    if (xpath.size() > ProfileStore::kMaxXPathBytes)
        return false;
    int unions = 0;
    int verticalSteps = 0;
    int predicates = 0;
    char quote = 0;
    for (int i = 0; i < xpath.size(); ++i) {
        const char c = xpath.at(i);
        if (quote) {
            if (c == quote)
                quote = 0;
        } else if (c == '\'' || c == '"') {
            quote = c;
        } else if (c == '[') {
            ++predicates;
        } else if (c == ']') {
            --predicates;
        } else if (c == '|') {
            if (++unions > 4)
                return false;
        } else if (c == '/' && predicates > 0) {
            return false;
        } else if (c == '/' && i + 1 < xpath.size() && xpath.at(i + 1) == '/') {
            if (++verticalSteps > 2)
                return false;
            ++i;
        } else if (c == ':' && i + 1 < xpath.size() && xpath.at(i + 1) == ':') {
            int from = i;
            const auto isAxisChar = [](char a) { return std::isalpha(static_cast<unsigned char>(a)) || a == '-'; };
            while (from > 0 && isAxisChar(xpath.at(from - 1)))
                --from;
            const QByteArray axis = xpath.mid(from, i - from);
            const bool local = axis == "child" || axis == "attribute" || axis == "self" || axis == "parent";
            const bool vertical = axis == "descendant" || axis == "descendant-or-self" || axis == "ancestor"
                || axis == "ancestor-or-self";
            if (!local && (predicates > 0 || !vertical || ++verticalSteps > 2))
                return false;
            ++i;
        }
    }
    return true;
}

// What bounds the work of an expression on one document.
struct Shape {
    double nodes = 1; // with the document node
    double attributes = 0;
    double fanout = 0; // the most children of one node
    double attributesEach = 0; // the most attributes of one element
    double depth = 0;
    double chars = 0; // names, values and text together, in bytes
};

// What the text alone tells, without a walk over the document: a node needs at least two bytes
// of it (an element four, text beside it one), an attribute four, and the parse refused anything
// deeper than the limit. Parsing never makes names, values or text longer.
Shape shapeOfText(int bytes)
{
    Shape shape;
    shape.nodes = bytes / 2.0 + 2;
    shape.attributes = shape.attributesEach = bytes / 4.0;
    shape.fanout = shape.nodes;
    shape.depth = ProfileStore::kMaxDepth;
    shape.chars = bytes;
    return shape;
}

// The document's own, for what the text alone would refuse.
Shape shapeOf(const pugi::xml_node &root)
{
    Shape shape;
    double depth = 0;
    pugi::xml_node node = root;
    for (;;) {
        double attributes = 0;
        for (pugi::xml_attribute a = node.first_attribute(); a; a = a.next_attribute()) {
            ++attributes;
            shape.chars += double(std::strlen(a.name()) + std::strlen(a.value()));
        }
        shape.attributes += attributes;
        shape.attributesEach = std::max(shape.attributesEach, attributes);
        shape.chars += double(std::strlen(node.name()) + std::strlen(node.value()));
        if (pugi::xml_node child = node.first_child()) {
            double children = 0;
            for (pugi::xml_node c = child; c; c = c.next_sibling())
                ++children;
            shape.fanout = std::max(shape.fanout, children);
            shape.depth = std::max(shape.depth, ++depth);
            node = child;
            ++shape.nodes;
            continue;
        }
        while (node != root && !node.next_sibling()) {
            node = node.parent();
            --depth;
        }
        if (node == root)
            return shape;
        node = node.next_sibling();
        ++shape.nodes;
    }
}

// An upper bound of the work an expression does on a document of the given shape, in node visits
// (sixteen characters handled count as one), found by reading the expression as pugixml does.
// Every part is weighed by how often it runs: a predicate once for every candidate of its step,
// and a candidate may come back once for each node it was reached from. A parent step reaches one
// node from each of its children, so a child step inside a parent step's predicate visits every
// child once per child (*[parent::*[*[...]]] multiplies by the widest fan-out at every level);
// within one evaluation a step's nodes are a set again, which keeps the steps of a top-level path
// from multiplying. Whatever cannot be read is unbounded; pugixml would not compile it either.
class WorkBound {
public:
    WorkBound(const QByteArray &xpath, const Shape &shape)
        : m_text(xpath), m_shape(shape), m_all(shape.nodes + shape.attributes)
    {
    }

    double estimate()
    {
        const Value value = expression({1, 1});
        skipSpace();
        return m_failed || m_pos != m_text.size() || !value.nodes ? kUnbounded : m_work;
    }

private:
    static constexpr double kUnbounded = std::numeric_limits<double>::infinity();
    static constexpr int kMaxNesting = 64;

    // How often an expression runs, and how often one node at most is its context.
    struct Context {
        double evaluations;
        double multiplicity;
    };
    // A node set: items over all evaluations, how often one node at most among them, the most
    // items of one evaluation. A string: characters over all evaluations, the most of one.
    struct Value {
        bool nodes = false;
        double total = 0;
        double multiplicity = 0;
        double each = 0;
        double chars = 0;
        double length = 0;
    };
    enum class Axis { Child, Attribute, Self, Parent, Descendant, Ancestor, Sibling, Following };

    // Lexing.
    void skipSpace()
    {
        while (m_pos < m_text.size() && std::isspace(static_cast<unsigned char>(m_text.at(m_pos))))
            ++m_pos;
    }
    bool at(const char *token)
    {
        skipSpace();
        const size_t length = std::strlen(token);
        return size_t(m_text.size() - m_pos) >= length && std::memcmp(m_text.constData() + m_pos, token, length) == 0;
    }
    bool accept(const char *token)
    {
        if (!at(token))
            return false;
        m_pos += int(std::strlen(token));
        return true;
    }
    void expect(const char *token)
    {
        if (!accept(token))
            m_failed = true;
    }
    static bool isNameStart(char c)
    {
        return std::isalpha(static_cast<unsigned char>(c)) || c == '_' || static_cast<unsigned char>(c) >= 0x80;
    }
    static bool isNameChar(char c)
    {
        return isNameStart(c) || std::isdigit(static_cast<unsigned char>(c)) || c == '-' || c == '.';
    }
    // An NCName at the current position, not consumed.
    QByteArray peekName()
    {
        skipSpace();
        int end = m_pos;
        if (end < m_text.size() && isNameStart(m_text.at(end))) {
            while (end < m_text.size() && isNameChar(m_text.at(end)))
                ++end;
        }
        return m_text.mid(m_pos, end - m_pos);
    }
    // What follows the name at the current position (skipping blanks).
    char after(const QByteArray &name) const
    {
        int i = m_pos + name.size();
        while (i < m_text.size() && std::isspace(static_cast<unsigned char>(m_text.at(i))))
            ++i;
        return i < m_text.size() ? m_text.at(i) : '\0';
    }
    bool afterIsAxis(const QByteArray &name) const
    {
        int i = m_pos + name.size();
        while (i < m_text.size() && std::isspace(static_cast<unsigned char>(m_text.at(i))))
            ++i;
        return m_text.mid(i, 2) == "::";
    }

    void add(double work) { m_work += work; }
    // Putting each evaluation's nodes in document order: comparisons cost about half a visit.
    static double sorting(const Value &value) { return value.total * std::log2(std::max(value.each, 2.0)) / 2; }

    static Value scalar(const Context &context, double length)
    {
        Value value;
        value.chars = context.evaluations * length;
        value.length = length;
        return value;
    }
    // The string value of every item of a node set: all below each node. One node lies below
    // at most depth + 1 distinct nodes.
    double allStrings(const Value &value) const
    {
        const double subtrees = value.multiplicity * (m_shape.depth + 1);
        return std::min(value.total * m_shape.nodes, subtrees * m_shape.nodes)
            + std::min(value.total * m_shape.chars, subtrees * m_shape.chars) / 16;
    }
    // A value as a string (a node set gives its first node's string value).
    Value asString(const Value &value, const Context &context)
    {
        if (!value.nodes)
            return value.length > 0 || value.chars > 0 ? value : scalar(context, 24);
        add(value.total);
        Value first = value;
        first.total = std::min(context.evaluations, value.total);
        first.multiplicity = std::min(value.multiplicity, first.total);
        add(allStrings(first));
        Value text = scalar(context, m_shape.chars);
        text.chars = std::min(context.evaluations * m_shape.chars,
                              first.multiplicity * (m_shape.depth + 1) * m_shape.chars);
        return text;
    }
    // Node sets are sets again at the end of each evaluation.
    Value settled(Value value, const Context &context) const
    {
        value.each = std::min(value.each, m_all);
        value.multiplicity = std::min(value.multiplicity, context.evaluations);
        value.total = std::min(value.total, context.evaluations * m_all);
        return value;
    }

    // Grammar, lowest precedence first.
    Value expression(const Context &context)
    {
        if (++m_nesting > kMaxNesting)
            m_failed = true;
        Value value = m_failed ? Value() : orExpression(context);
        --m_nesting;
        return value;
    }
    Value orExpression(const Context &context)
    {
        Value value = andExpression(context);
        while (!m_failed && peekName() == "or") {
            m_pos += 2;
            andExpression(context);
            add(context.evaluations);
            value = scalar(context, 24);
        }
        return value;
    }
    Value andExpression(const Context &context)
    {
        Value value = equality(context);
        while (!m_failed && peekName() == "and") {
            m_pos += 3;
            equality(context);
            add(context.evaluations);
            value = scalar(context, 24);
        }
        return value;
    }
    Value equality(const Context &context)
    {
        Value left = relational(context);
        while (!m_failed && (accept("!=") || accept("=")))
            left = compare(left, relational(context), context);
        return left;
    }
    Value relational(const Context &context)
    {
        Value left = additive(context);
        while (!m_failed && (accept("<=") || accept(">=") || accept("<") || accept(">")))
            left = compare(left, additive(context), context);
        return left;
    }
    Value compare(const Value &left, const Value &right, const Context &context)
    {
        // Two node sets compare every pair, and the string values may be taken anew for each pair.
        if (left.nodes && right.nodes) {
            add(std::min(left.total * right.each, left.each * right.total) + left.each * allStrings(right)
                + right.each * allStrings(left));
        } else if (left.nodes || right.nodes) {
            add(allStrings(left.nodes ? left : right));
        }
        add(context.evaluations + (left.chars + right.chars) / 16);
        return scalar(context, 24);
    }
    Value additive(const Context &context)
    {
        Value value = multiplicative(context);
        while (!m_failed && (accept("+") || accept("-"))) {
            asString(value, context);
            asString(multiplicative(context), context);
            add(context.evaluations);
            value = scalar(context, 24);
        }
        return value;
    }
    Value multiplicative(const Context &context)
    {
        Value value = unary(context);
        while (!m_failed) {
            if (!accept("*")) {
                const QByteArray name = peekName();
                if (name != "div" && name != "mod")
                    break;
                m_pos += name.size();
            }
            asString(value, context);
            asString(unary(context), context);
            add(context.evaluations);
            value = scalar(context, 24);
        }
        return value;
    }
    Value unary(const Context &context)
    {
        if (accept("-")) {
            asString(unary(context), context);
            add(context.evaluations);
            return scalar(context, 24);
        }
        return unionExpression(context);
    }
    Value unionExpression(const Context &context)
    {
        Value value = path(context);
        while (!m_failed && accept("|")) {
            const Value right = path(context);
            if (!value.nodes || !right.nodes)
                m_failed = true;
            value.total += right.total;
            value.multiplicity += right.multiplicity;
            value.each += right.each;
            add(sorting(value));
            value = settled(value, context);
        }
        return value;
    }

    // A location path, or a filter expression with the path that may follow it.
    Value path(const Context &context)
    {
        skipSpace();
        Value value;
        value.nodes = true;
        if (at("/")) {
            // The document node, once for each evaluation.
            value.total = value.multiplicity = context.evaluations;
            value.each = 1;
            if (accept("//")) {
                value = settled(step(value, Axis::Descendant), context);
            } else {
                accept("/");
                if (!startsStep())
                    return value;
            }
            return relativePath(value, context);
        }
        if (startsStep()) {
            value.total = context.evaluations;
            value.multiplicity = context.multiplicity;
            value.each = 1;
            return relativePath(value, context);
        }
        value = primary(context);
        while (!m_failed && accept("[")) {
            if (!value.nodes)
                m_failed = true;
            predicate(value);
        }
        if (value.nodes)
            value = settled(value, context);
        if (at("/")) {
            if (!value.nodes)
                m_failed = true;
            if (accept("//"))
                value = settled(step(value, Axis::Descendant), context);
            else
                accept("/");
            return relativePath(value, context);
        }
        return value;
    }
    bool startsStep()
    {
        skipSpace();
        if (at(".") || at("@") || at("*"))
            return !(m_pos + 1 < m_text.size() && std::isdigit(static_cast<unsigned char>(m_text.at(m_pos + 1)))
                     && m_text.at(m_pos) == '.');
        const QByteArray name = peekName();
        if (name.isEmpty())
            return false;
        if (afterIsAxis(name))
            return true;
        // A name before "(" is a function, unless it is a node type test.
        if (after(name) == '(')
            return name == "node" || name == "text" || name == "comment" || name == "processing-instruction";
        return true;
    }
    Value relativePath(Value value, const Context &context)
    {
        for (;;) {
            value = locationStep(value, context);
            if (m_failed)
                return value;
            if (accept("//"))
                value = settled(step(value, Axis::Descendant), context);
            else if (!accept("/"))
                return value;
        }
    }
    Value locationStep(const Value &from, const Context &context)
    {
        if (accept(".."))
            return settled(step(from, Axis::Parent), context);
        if (accept("."))
            return settled(step(from, Axis::Self), context);
        Axis axis = Axis::Child;
        if (accept("@")) {
            axis = Axis::Attribute;
        } else {
            const QByteArray name = peekName();
            if (!name.isEmpty() && afterIsAxis(name)) {
                static const std::pair<const char *, Axis> axes[] = {
                    {"child", Axis::Child},
                    {"attribute", Axis::Attribute},
                    {"namespace", Axis::Attribute},
                    {"self", Axis::Self},
                    {"parent", Axis::Parent},
                    {"descendant", Axis::Descendant},
                    {"descendant-or-self", Axis::Descendant},
                    {"ancestor", Axis::Ancestor},
                    {"ancestor-or-self", Axis::Ancestor},
                    {"following-sibling", Axis::Sibling},
                    {"preceding-sibling", Axis::Sibling},
                    {"following", Axis::Following},
                    {"preceding", Axis::Following},
                };
                const auto found = std::find_if(std::begin(axes), std::end(axes),
                                                [&name](const auto &a) { return name == a.first; });
                if (found == std::end(axes)) {
                    m_failed = true;
                    return from;
                }
                axis = found->second;
                m_pos += name.size();
                expect("::");
            }
        }
        nodeTest();
        Value value = step(from, axis);
        while (!m_failed && accept("["))
            predicate(value);
        return settled(value, context);
    }
    void nodeTest()
    {
        if (accept("*"))
            return;
        const QByteArray name = peekName();
        if (name.isEmpty()) {
            m_failed = true;
            return;
        }
        m_pos += name.size();
        if (m_text.mid(m_pos, 1) == ":" && m_text.mid(m_pos, 2) != "::") {
            ++m_pos;
            if (!accept("*")) {
                const QByteArray local = peekName();
                if (local.isEmpty())
                    m_failed = true;
                m_pos += local.size();
            }
        } else if (at("(")) {
            expect("(");
            if (name == "processing-instruction" && !accept(")")) {
                literal();
                expect(")");
            } else {
                expect(")");
            }
        }
    }
    // One step from every node of a set; its predicates and the evaluation's set come after.
    Value step(const Value &from, Axis axis)
    {
        const Shape &s = m_shape;
        double perNode = 1, pairs = m_all, fanIn = 1;
        bool reorders = false;
        switch (axis) {
        case Axis::Child: perNode = s.fanout; pairs = s.nodes; break;
        case Axis::Attribute: perNode = s.attributesEach; pairs = s.attributes; break;
        case Axis::Self: break;
        case Axis::Parent: fanIn = s.fanout + s.attributesEach; reorders = true; break;
        case Axis::Descendant:
            perNode = s.nodes;
            pairs = s.nodes * (s.depth + 1);
            fanIn = s.depth + 1;
            reorders = from.each > 1;
            break;
        case Axis::Ancestor:
            perNode = s.depth + 1;
            pairs = m_all * (s.depth + 1);
            fanIn = m_all;
            reorders = true;
            break;
        case Axis::Sibling: perNode = fanIn = s.fanout; pairs = s.nodes * s.fanout; reorders = true; break;
        case Axis::Following: perNode = s.nodes; pairs = m_all * s.nodes; fanIn = m_all; reorders = true; break;
        }
        Value value;
        value.nodes = true;
        value.total = std::min(from.total * perNode, from.multiplicity * pairs);
        value.multiplicity = std::min(from.multiplicity * fanIn, value.total);
        value.each = std::min(from.each * perNode, value.total);
        add(from.total + value.total);
        if (reorders)
            add(sorting(value));
        return value;
    }
    // "[" read: the predicate runs once for each item of the set it filters.
    void predicate(const Value &candidates)
    {
        const Context context{candidates.total, candidates.multiplicity};
        const Value test = expression(context);
        if (test.nodes)
            add(test.total);
        expect("]");
    }

    void literal()
    {
        skipSpace();
        const char quote = m_pos < m_text.size() ? m_text.at(m_pos) : '\0';
        const int end = quote == '\'' || quote == '"' ? m_text.indexOf(quote, m_pos + 1) : -1;
        if (end < 0) {
            m_failed = true;
            return;
        }
        m_pos = end + 1;
    }
    Value primary(const Context &context)
    {
        skipSpace();
        if (m_pos >= m_text.size()) {
            m_failed = true;
            return Value();
        }
        const char c = m_text.at(m_pos);
        if (c == '(') {
            ++m_pos;
            const Value value = expression(context);
            expect(")");
            return value;
        }
        if (c == '\'' || c == '"') {
            const int from = m_pos;
            literal();
            const Value value = scalar(context, std::max(1, m_pos - from - 2));
            add(context.evaluations);
            return value;
        }
        if (std::isdigit(static_cast<unsigned char>(c)) || c == '.') {
            while (m_pos < m_text.size()
                   && (std::isdigit(static_cast<unsigned char>(m_text.at(m_pos))) || m_text.at(m_pos) == '.'))
                ++m_pos;
            add(context.evaluations);
            return scalar(context, 24);
        }
        if (c == '$') {
            // pugixml compiles no variable without a variable set, and none is given.
            m_failed = true;
            return Value();
        }
        const QByteArray name = peekName();
        if (name.isEmpty() || after(name) != '(') {
            m_failed = true;
            return Value();
        }
        m_pos += name.size();
        expect("(");
        std::vector<Value> arguments;
        if (!accept(")")) {
            do {
                arguments.push_back(expression(context));
            } while (!m_failed && accept(","));
            expect(")");
        }
        return call(name, arguments, context);
    }
    Value call(const QByteArray &name, const std::vector<Value> &arguments, const Context &context)
    {
        add(context.evaluations);
        // The context node, where a function's argument may be left out.
        Value self;
        self.nodes = true;
        self.total = context.evaluations;
        self.multiplicity = context.multiplicity;
        self.each = 1;
        const auto stringOf = [&](size_t i) { return asString(i < arguments.size() ? arguments[i] : self, context); };
        if (name == "last" || name == "position" || name == "true" || name == "false")
            return scalar(context, 24);
        if (name == "count" || name == "boolean" || name == "not") {
            if (arguments.size() != 1 || (name == "count" && !arguments[0].nodes))
                m_failed = true;
            return scalar(context, 24);
        }
        if (name == "sum") {
            if (arguments.size() != 1 || !arguments[0].nodes)
                m_failed = true;
            else
                add(allStrings(arguments[0]));
            return scalar(context, 24);
        }
        if (name == "lang") {
            stringOf(0);
            add(context.evaluations * (m_shape.depth + 1));
            return scalar(context, 24);
        }
        if (name == "local-name" || name == "name" || name == "namespace-uri") {
            if (!arguments.empty() && !arguments[0].nodes)
                m_failed = true;
            const Value &of = arguments.empty() ? self : arguments[0];
            add(of.total);
            // The first node's name; all names together are part of the text.
            Value text = scalar(context, m_shape.chars);
            text.chars = std::min(context.evaluations, of.multiplicity) * m_shape.chars;
            return text;
        }
        if (name == "string" || name == "number" || name == "string-length" || name == "normalize-space"
            || name == "floor" || name == "ceiling" || name == "round") {
            const Value text = stringOf(0);
            add(text.chars / 16);
            return name == "string" || name == "normalize-space" ? text : scalar(context, 24);
        }
        if (name == "concat") {
            Value joined = scalar(context, 0);
            for (size_t i = 0; i < arguments.size(); ++i) {
                const Value part = stringOf(i);
                joined.chars += part.chars;
                joined.length += part.length;
            }
            add(joined.chars / 16);
            return joined;
        }
        if (name == "contains" || name == "starts-with" || name == "substring-before"
            || name == "substring-after" || name == "translate" || name == "substring") {
            if (arguments.size() < 2)
                m_failed = true;
            const Value text = stringOf(0);
            const Value other = stringOf(1);
            for (size_t i = 2; i < arguments.size(); ++i)
                stringOf(i);
            // Looking for one text in another may compare every place of one with all of the other.
            const double width = name == "substring" ? 1 : std::max(1.0, other.length);
            add(text.chars * width / 16 + other.chars / 16);
            return text;
        }
        if (name == "id") {
            if (!arguments.empty())
                add(allStrings(arguments[0].nodes ? arguments[0] : self));
            add(context.evaluations * m_all);
            Value found;
            found.nodes = true;
            found.total = context.evaluations * m_all;
            found.multiplicity = context.evaluations;
            found.each = m_all;
            return found;
        }
        m_failed = true;
        return Value();
    }

    const QByteArray m_text;
    const Shape m_shape;
    const double m_all; // nodes and attributes
    int m_pos = 0;
    int m_nesting = 0;
    double m_work = 0;
    bool m_failed = false;
};

// The nodes an expression selects, in document order; attributes are no nodes here. False when
// the expression does not compile, selects something other than nodes, would need too much work
// or takes too long; after a false return the document must not be touched again.
// textBytes: the length of the text the document was parsed from.
bool selectNodes(const Document &document, int textBytes, const QString &xpath, std::vector<pugi::xml_node> *nodes)
{
    nodes->clear();
    auto job = std::make_shared<Evaluation>();
    job->xpath = xpath.toUtf8();
    if (!hasBoundedCost(job->xpath) || g_runaways.load() > 0)
        return false;
    // Most expressions are cheap even for the largest document the text could hold; only the
    // others are weighed against the document itself.
    const auto affordable = [&job](const Shape &shape) {
        return WorkBound(job->xpath, shape).estimate() <= double(ProfileStore::kXPathMaxWork);
    };
    if (!affordable(shapeOfText(textBytes)) && !affordable(shapeOf(*document)))
        return false;
    job->document = document;
    try {
        std::thread(evaluate, job).detach();
    } catch (const std::system_error &) {
        return false;
    }
    std::unique_lock<std::mutex> lock(job->mutex);
    if (!job->finished.wait_for(lock, std::chrono::milliseconds(ProfileStore::kXPathBudgetMs),
                                [&job] { return job->done; })) {
        job->abandoned = true;
        ++g_runaways;
        qWarning("profile: gave up an XPath expression after %d ms: %.200s", ProfileStore::kXPathBudgetMs,
                 job->xpath.constData());
        return false;
    }
    if (!job->ok)
        return false;
    nodes->swap(job->nodes);
    return true;
}

bool selectFirst(const Document &document, int textBytes, const QString &xpath, pugi::xml_node *node)
{
    std::vector<pugi::xml_node> nodes;
    if (!selectNodes(document, textBytes, xpath, &nodes))
        return false;
    *node = nodes.empty() ? pugi::xml_node() : nodes.front();
    return true;
}

// What loadAndSelect fills: every match, or the first (an empty node when none matches).
bool select(const Document &document, int textBytes, const QString &xpath, std::vector<pugi::xml_node> *nodes)
{
    return selectNodes(document, textBytes, xpath, nodes);
}

bool select(const Document &document, int textBytes, const QString &xpath, pugi::xml_node *node)
{
    return selectFirst(document, textBytes, xpath, node);
}

Document newDocument()
{
    return std::make_shared<pugi::xml_document>();
}

// Matches that lie inside another match are left out: removing or emptying the outer one
// frees them, and touching them afterwards would touch freed memory.
std::vector<pugi::xml_node> outermost(const std::vector<pugi::xml_node> &nodes)
{
    if (nodes.size() < 2)
        return nodes;
    std::unordered_set<size_t> matched;
    for (const pugi::xml_node &node : nodes)
        matched.insert(node.hash_value());
    std::vector<pugi::xml_node> result;
    for (const pugi::xml_node &node : nodes) {
        bool nested = false;
        for (pugi::xml_node up = node.parent(); up && !nested; up = up.parent())
            nested = matched.count(up.hash_value()) != 0;
        if (!nested)
            result.push_back(node);
    }
    return result;
}

QStringList split(const QString &text, Qt::SplitBehavior behavior)
{
    return text.split(QLatin1Char(';'), behavior);
}

// XML 1.0 (fifth edition) names: what a new element or attribute may be called so that the
// saved file parses again.
bool isNameStart(uint c)
{
    return (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z') || c == ':' || c == '_' || (c >= 0xC0 && c <= 0xD6)
        || (c >= 0xD8 && c <= 0xF6) || (c >= 0xF8 && c <= 0x2FF) || (c >= 0x370 && c <= 0x37D)
        || (c >= 0x37F && c <= 0x1FFF) || (c >= 0x200C && c <= 0x200D) || (c >= 0x2070 && c <= 0x218F)
        || (c >= 0x2C00 && c <= 0x2FEF) || (c >= 0x3001 && c <= 0xD7FF) || (c >= 0xF900 && c <= 0xFDCF)
        || (c >= 0xFDF0 && c <= 0xFFFD) || (c >= 0x10000 && c <= 0xEFFFF);
}

bool isNameChar(uint c)
{
    return isNameStart(c) || c == '-' || c == '.' || (c >= '0' && c <= '9') || c == 0xB7
        || (c >= 0x300 && c <= 0x36F) || (c >= 0x203F && c <= 0x2040);
}

bool isXmlName(const QString &name)
{
    const QVector<uint> code = name.toUcs4();
    if (code.isEmpty() || !isNameStart(code.front()))
        return false;
    return std::all_of(code.begin() + 1, code.end(), isNameChar);
}

// Allocation failure (a request that would need more memory than there is) ends the command
// with its failure reply instead of ending the program.
template <class Body>
ProfileReply guarded(const ProfileReply &onFailure, Body body)
{
    try {
        return body();
    } catch (const std::bad_alloc &) {
        return onFailure;
    }
}

} // namespace

ProfileStore::ProfileStore(const QString &applicationDir)
    : m_applicationDir(applicationDir), m_cleanApplicationDir(QDir::cleanPath(applicationDir))
{
    m_canonicalApplicationDir = QFileInfo(m_cleanApplicationDir).canonicalFilePath();
    if (m_canonicalApplicationDir.isEmpty())
        m_canonicalApplicationDir = m_cleanApplicationDir;
    m_settingsFile = m_canonicalApplicationDir + QStringLiteral("/Resources/profiles/conf.xml");
}

ProfileStore::~ProfileStore() = default;

namespace {

bool inside(const QString &path, const QString &folder)
{
    return path.startsWith(folder.endsWith(QLatin1Char('/')) ? folder : folder + QLatin1Char('/'));
}

} // namespace

QString ProfileStore::resolveProfilePath(const QString &relative) const
{
    if (relative.contains(QLatin1Char('\0')))
        return QString();
    const QString clean = QDir::cleanPath(m_applicationDir + QLatin1Char('/') + relative);
    if (!inside(clean, m_cleanApplicationDir))
        return QString();
    const QString canonical = QFileInfo(clean).canonicalFilePath();
    if (canonical.isEmpty())
        return clean;
    return inside(canonical, m_canonicalApplicationDir) ? canonical : QString();
}

bool ProfileStore::mayChange(const QString &fullPath) const
{
    // The program's executables, libraries and the page's scripts and markup live in the same
    // folder; only XML files are profiles. The settings file is XML too, but the application
    // holds its text and rewrites it whole, so an edit made here would be lost or lose its own.
    return fullPath.endsWith(QLatin1String(".xml"), Qt::CaseInsensitive) && fullPath != m_settingsFile;
}

ProfileStore::Load ProfileStore::cacheFile(const QString &relative, Access access, QString *fullPath)
{
    *fullPath = resolveProfilePath(relative);
    if (fullPath->isEmpty() || (access == Access::Change && !mayChange(*fullPath)))
        return Load::Refused;
    if (xmlCache.contains(*fullPath))
        return Load::Ok;
    // A file that is not there or cannot be opened ends the command without a reply; a FIFO, a
    // device or a file too large for a profile is refused with the command's failure.
    const QFileInfo info(*fullPath);
    if (!info.exists())
        return Load::Unreadable;
    if (!info.isFile() || info.size() > kMaxTextBytes)
        return Load::Refused;
    QByteArray bytes;
    if (!RegularFile::read(*fullPath, kMaxTextBytes, true, &bytes))
        return Load::Unreadable;
    // Through a string once, so that malformed UTF-8 is settled the same way on every path.
    xmlCache.insert(*fullPath, QString::fromUtf8(bytes).toUtf8());
    return Load::Ok;
}

ProfileStore::Load ProfileStore::loadCachedProfile(const QString &relative, Access access, QString *fullPath,
                                                   Document *document)
{
    const Load load = cacheFile(relative, access, fullPath);
    if (load != Load::Ok)
        return load;
    *document = newDocument();
    return parseUtf8(document->get(), xmlCache.value(*fullPath)) ? Load::Ok : Load::Unparsable;
}

template <class Selection>
ProfileStore::Load ProfileStore::loadAndSelect(const QString &relative, Access access, const QString &xpath,
                                               QString *fullPath, Document *document, Selection *selection)
{
    const Load load = loadCachedProfile(relative, access, fullPath, document);
    if (load != Load::Ok)
        return load;
    return select(*document, xmlCache.value(*fullPath).size(), xpath, selection) ? Load::Ok : Load::BadXPath;
}

ProfileStore::Load ProfileStore::storeDocument(const QString &fullPath, const pugi::xml_document &document)
{
    if (!hasOneTopElement(document))
        return Load::Unparsable;
    QByteArray text;
    if (!withinDepth(document, kMaxDepth) || !serialise(document, &text))
        return Load::TooLarge;
    xmlCache.insert(fullPath, text);
    markModified(fullPath);
    return Load::Ok;
}

void ProfileStore::markModified(const QString &fullPath)
{
    if (!modifiedXmlFiles.contains(fullPath))
        modifiedXmlFiles.append(fullPath);
}

ProfileReply ProfileStore::failureFor(Load load, const QString &failureText)
{
    // An unreadable file ends without a reply; a refused path, unparsable text, a bad
    // expression or a result too large get the command's own failure text.
    return load == Load::Unreadable ? ProfileReply::none() : ProfileReply::failure(failureText);
}

ProfileReply ProfileStore::queryProfile(const QString &filePath, const QString &xpath)
{
    QMutexLocker lock(&m_mutex);
    return guarded(ProfileReply::failure(kQueryFailed), [&] {
        QString full;
        Document document;
        std::vector<pugi::xml_node> nodes;
        const Load load = loadAndSelect(filePath, Access::Read, xpath, &full, &document, &nodes);
        if (load != Load::Ok)
            return failureFor(load, kQueryFailed);
        BoundedWriter writer;
        try {
            for (const pugi::xml_node &node : nodes)
                node.print(writer);
        } catch (const BoundedWriter::Overflow &) {
            return ProfileReply::failure(kQueryFailed);
        }
        return ProfileReply::success(QString::fromUtf8(writer.result.data(), int(writer.result.size())));
    });
}

ProfileReply ProfileStore::nodeCounterProfile(const QString &filePath, const QString &xpath)
{
    QMutexLocker lock(&m_mutex);
    return guarded(ProfileReply::failure(kCountFailed), [&] {
        QString full;
        Document document;
        pugi::xml_node node;
        const Load load = loadAndSelect(filePath, Access::Read, xpath, &full, &document, &node);
        if (load != Load::Ok)
            return failureFor(load, kCountFailed);
        int count = 0;
        for (pugi::xml_node child = node.first_child(); child; child = child.next_sibling())
            ++count;
        return ProfileReply::success(QString::number(count));
    });
}

template <class Edit>
ProfileReply ProfileStore::editSelected(const QString &filePath, const QString &xpath, const QString &failureText,
                                        const QString &successText, Edit edit)
{
    QString full;
    Document document;
    std::vector<pugi::xml_node> nodes;
    Load load = loadAndSelect(filePath, Access::Change, xpath, &full, &document, &nodes);
    if (load != Load::Ok)
        return failureFor(load, failureText);
    edit(nodes);
    load = storeDocument(full, *document);
    if (load != Load::Ok)
        return failureFor(load, failureText);
    return ProfileReply::success(successText);
}

ProfileReply ProfileStore::modifyProfile(const QString &filePath, const QString &xpath, const QString &attribute,
                                         const QString &attributeValue)
{
    QMutexLocker lock(&m_mutex);
    return guarded(ProfileReply::failure(kModifyFailed), [&] {
        return editSelected(filePath, xpath, kModifyFailed, QStringLiteral("modifyProfile success!"),
                            [&](std::vector<pugi::xml_node> &nodes) {
            // Values keep their empty parts so that a value can be cleared.
            const QStringList names = split(attribute, Qt::SkipEmptyParts);
            const QStringList values = split(attributeValue, Qt::KeepEmptyParts);
            const int pairs = std::min(names.size(), values.size());
            std::vector<QByteArray> utf8Names, utf8Values;
            for (int i = 0; i < pairs; ++i) {
                utf8Names.push_back(names.at(i).toUtf8());
                utf8Values.push_back(values.at(i).toUtf8());
            }
            for (pugi::xml_node &node : nodes) {
                for (int i = 0; i < pairs; ++i) {
                    // Only attributes the node already has; none is created.
                    if (pugi::xml_attribute existing = node.attribute(utf8Names[i].constData()))
                        existing.set_value(utf8Values[i].constData());
                }
            }
        });
    });
}

ProfileReply ProfileStore::modifyProfileEx(const QString &filePath, const QString &xpath,
                                           const QString &subTreeString)
{
    QMutexLocker lock(&m_mutex);
    return guarded(ProfileReply::failure(kModifyExFailed), [&] {
        pugi::xml_document subTree;
        const QByteArray subTreeUtf8 = subTreeString.toUtf8();
        // An unparsable subtree counts as empty (the parser would leave what it read before the
        // error); one that parses but is nested too deep is refused.
        if (!subTree.load_buffer(subTreeUtf8.constData(), qstrlen(subTreeUtf8.constData()), pugi::parse_default,
                                 pugi::encoding_utf8))
            subTree.reset();
        else if (!withinDepth(subTree, kMaxDepth))
            return ProfileReply::failure(kModifyExFailed);

        return editSelected(filePath, xpath, kModifyExFailed, QStringLiteral("modifyProfileEx success"),
                            [&](std::vector<pugi::xml_node> &nodes) {
            // The subtree moves into the first match; later matches only lose their children.
            for (pugi::xml_node &node : outermost(nodes)) {
                node.remove_children();
                while (pugi::xml_node top = subTree.first_child()) {
                    node.append_copy(top);
                    subTree.remove_child(top);
                }
            }
        });
    });
}

ProfileReply ProfileStore::modifyRemoveProfile(const QString &filePath, const QString &xpath)
{
    QMutexLocker lock(&m_mutex);
    return guarded(ProfileReply::failure(kModifyFailed), [&] {
        return editSelected(filePath, xpath, kModifyFailed, QStringLiteral("modifyRemoveProfile success"),
                            [&](std::vector<pugi::xml_node> &nodes) {
            for (pugi::xml_node &node : outermost(nodes)) {
                if (pugi::xml_node parent = node.parent())
                    parent.remove_child(node);
            }
        });
    });
}

ProfileReply ProfileStore::modifyAddProfile(const QString &filePath, const QString &xpath, const QString &attribute,
                                            const QString &attributeValue, const QString &addNodeName)
{
    QMutexLocker lock(&m_mutex);
    return guarded(ProfileReply::failure(kModifyFailed), [&] {
        // Both lists drop empty parts here: the values pair up with the names by position.
        QStringList names = split(attribute, Qt::SkipEmptyParts);
        const QStringList values = split(attributeValue, Qt::SkipEmptyParts);
        // pugixml takes any text as a name and writes it as it is; a name that is no XML name (or
        // one attribute twice) would make a file that never loads again.
        if (!isXmlName(addNodeName) || names.removeDuplicates() != 0
            || !std::all_of(names.begin(), names.end(), isXmlName))
            return ProfileReply::failure(kModifyFailed);

        return editSelected(filePath, xpath, kModifyFailed, QStringLiteral("modifyAddProfile success"),
                            [&](std::vector<pugi::xml_node> &nodes) {
            const QByteArray name = addNodeName.toUtf8();
            for (pugi::xml_node &node : nodes) {
                pugi::xml_node added = node.append_child(name.constData());
                for (int i = 0; i < names.size(); ++i) {
                    pugi::xml_attribute created = added.append_attribute(names.at(i).toUtf8().constData());
                    if (i < values.size())
                        created.set_value(values.at(i).toUtf8().constData());
                }
            }
        });
    });
}

ProfileReply ProfileStore::modifyReplaceProfile(const QString &srcFilePath, const QString &desFilePath,
                                                const QString &srcXpath, const QString &desXpath)
{
    QMutexLocker lock(&m_mutex);
    return guarded(ProfileReply::failure(kReplaceFailed), [&] {
        QString srcFull, desFull;
        Load load = cacheFile(srcFilePath, Access::Read, &srcFull);
        if (load == Load::Ok)
            load = cacheFile(desFilePath, Access::Change, &desFull);
        const Document destination = newDocument(), source = newDocument();
        if (load == Load::Ok && (!parseUtf8(destination.get(), xmlCache.value(desFull))
                                 || !parseUtf8(source.get(), xmlCache.value(srcFull))))
            load = Load::Unparsable;
        pugi::xml_node from, target;
        if (load == Load::Ok
            && (!selectFirst(source, xmlCache.value(srcFull).size(), srcXpath, &from)
                || !selectFirst(destination, xmlCache.value(desFull).size(), desXpath, &target)))
            load = Load::BadXPath;
        if (load != Load::Ok)
            return failureFor(load, kReplaceFailed);

        // The target's place is taken by a copy of the source node (or by nothing, when the
        // source expression matches nothing).
        if (pugi::xml_node parent = target.parent()) {
            if (parent.first_child() == target) {
                parent.remove_child(target);
                if (from)
                    parent.prepend_copy(from);
            } else {
                const pugi::xml_node before = target.previous_sibling();
                parent.remove_child(target);
                if (from)
                    parent.insert_copy_after(from, before);
            }
        }
        load = storeDocument(desFull, *destination);
        if (load != Load::Ok)
            return failureFor(load, kReplaceFailed);
        return ProfileReply::success(QStringLiteral("modifyReplaceProfile success"));
    });
}

ProfileReply ProfileStore::modifyReplaceProfileEx(const QString &srcFilePath, const QString &desFilePath,
                                                  const QString &desXpath)
{
    QMutexLocker lock(&m_mutex);
    return guarded(ProfileReply::failure(kReplaceFailed), [&] {
        QString desFull;
        Document destination;
        Load load = loadCachedProfile(desFilePath, Access::Change, &desFull, &destination);
        if (load != Load::Ok)
            return failureFor(load, kReplaceFailed);

        QByteArray packaged;
        pugi::xml_document imported;
        if (!ProfilePackage::read(srcFilePath, &packaged) || packaged.size() > kMaxTextBytes
            || !parseUtf8(&imported, packaged))
            return ProfileReply::failure(kReplaceFailed);
        pugi::xml_node target;
        if (!selectFirst(destination, xmlCache.value(desFull).size(), desXpath, &target))
            return ProfileReply::failure(kReplaceFailed);

        // The package's top element stands for the target: its children replace the target's.
        const pugi::xml_node from = imported.first_child();
        if (target) {
            target.remove_children();
            for (pugi::xml_node child = from.first_child(); child; child = child.next_sibling())
                target.append_copy(child);
        }
        load = storeDocument(desFull, *destination);
        if (load != Load::Ok)
            return failureFor(load, kReplaceFailed);
        return ProfileReply::success(QStringLiteral("modifyReplaceProfile success"));
    });
}

ProfileReply ProfileStore::resetProfile(const QString &srcFilePath, const QString &desFilePath)
{
    QMutexLocker lock(&m_mutex);
    return guarded(ProfileReply::none(), [&] {
        QString srcFull, desFull;
        // No failure text exists for this command: a refused path ends like an unreadable one.
        if (cacheFile(srcFilePath, Access::Read, &srcFull) != Load::Ok
            || cacheFile(desFilePath, Access::Change, &desFull) != Load::Ok)
            return ProfileReply::none();
        xmlCache.insert(desFull, xmlCache.value(srcFull));
        markModified(desFull);
        return ProfileReply::success(QStringLiteral("resetProfile success"));
    });
}

ProfileReply ProfileStore::queryHexByte(const QString &filePath, const QString &xpath, const QString &args)
{
    QMutexLocker lock(&m_mutex);
    return guarded(ProfileReply::failure(kModifyFailed), [&] {
        QString full;
        Document document;
        pugi::xml_node node;
        const Load load = loadAndSelect(filePath, Access::Read, xpath, &full, &document, &node);
        if (load != Load::Ok)
            return failureFor(load, kModifyFailed);

        QString text = QString::fromUtf8(node.attribute("code").value());
        if (text.contains(QLatin1Char('%'))) {
            const QStringList arguments = args.split(QLatin1Char(','), Qt::SkipEmptyParts);
            QStringList fields = text.split(QLatin1Char(','), Qt::KeepEmptyParts);
            int next = 0;
            // Only the first four fields take arguments; a "%" without an argument left stays.
            for (int i = 0; i < 4 && i < fields.size() && next < arguments.size(); ++i) {
                if (fields.at(i) == QLatin1String("%"))
                    fields[i] = arguments.at(next++);
            }
            text = fields.join(QLatin1Char(','));
        }
        return ProfileReply::success(text);
    });
}

bool ProfileStore::saveModifiedLocked()
{
    for (const QString &path : qAsConst(modifiedXmlFiles)) {
        // Whatever took the file's place since it was read (a FIFO, a device, a link) is not
        // replaced: the rename would make a plain file of it or write where the link points.
        if (RegularFile::kindAt(path) == RegularFile::Kind::Other)
            return false;
        // A crash or a full disk half-way must not cost the user the previous file.
        QSaveFile file(path);
        if (!file.open(QIODevice::WriteOnly | QIODevice::Text))
            return false;
        const QByteArray &text = xmlCache[path];
        if (file.write(text) != text.size()) {
            file.cancelWriting();
            return false;
        }
        if (!file.commit())
            return false;
    }
    modifiedXmlFiles.clear();
    return true;
}

bool ProfileStore::saveModified()
{
    QMutexLocker lock(&m_mutex);
    try {
        return saveModifiedLocked();
    } catch (const std::bad_alloc &) {
        return false;
    }
}

ProfileReply ProfileStore::savexml()
{
    QMutexLocker lock(&m_mutex);
    return guarded(ProfileReply::none(), [&] {
        if (xmlCache.isEmpty() || !saveModifiedLocked())
            return ProfileReply::none();
        return ProfileReply::success(QStringLiteral("save xml success"));
    });
}

bool ProfileStore::mayExportTo(const QString &desFilePath) const
{
    // A package goes where the user chose, but never over one of the program's own files.
    const QFileInfo info(desFilePath);
    QString folder = QFileInfo(info.absolutePath()).canonicalFilePath();
    if (folder.isEmpty())
        folder = QDir::cleanPath(info.absolutePath());
    return !inside(folder + QLatin1Char('/'), m_canonicalApplicationDir)
        || info.fileName().endsWith(QLatin1String(".pfd"), Qt::CaseInsensitive);
}

ProfileReply ProfileStore::saveXmlAs(const QString &srcFilePath, const QString &xpath, const QString &desFilePath)
{
    QMutexLocker lock(&m_mutex);
    return guarded(ProfileReply::failure(kSaveAsFailed), [&] {
        QString full;
        Document document;
        pugi::xml_node node;
        const Load load = loadAndSelect(srcFilePath, Access::Read, xpath, &full, &document, &node);
        if (load != Load::Ok)
            return failureFor(load, kSaveAsFailed);

        pugi::xml_document exported;
        if (node)
            exported.append_copy(node);
        QByteArray text;
        if (!serialise(exported, &text))
            return ProfileReply::failure(kSaveAsFailed);
        if (!mayExportTo(desFilePath) || !ProfilePackage::write(desFilePath, text))
            return ProfileReply::failure(kSaveAsDestinationFailed);
        return ProfileReply::success(QStringLiteral("saveXmlAs success"));
    });
}

bool ProfileStore::isCached(const QString &fullPath) const
{
    QMutexLocker lock(&m_mutex);
    return xmlCache.contains(fullPath);
}

QString ProfileStore::cachedText(const QString &fullPath) const
{
    QMutexLocker lock(&m_mutex);
    return QString::fromUtf8(xmlCache.value(fullPath));
}

QStringList ProfileStore::modifiedFiles() const
{
    QMutexLocker lock(&m_mutex);
    return modifiedXmlFiles;
}
