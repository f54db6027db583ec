// The reader behind xpath_cost::workBound (internal to the XPath guard).
#pragma once

#include "xpath_cost.h"

#include <QByteArray>

#include <algorithm>
#include <cctype>
#include <cmath>
#include <cstring>
#include <limits>
#include <vector>

namespace xpath_cost {

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
    double allStrings(const Value &value) const;
    // A value as a string (a node set gives its first node's string value).
    Value asString(const Value &value, const Context &context);
    // Node sets are sets again at the end of each evaluation.
    Value settled(Value value, const Context &context) const;

    // Grammar, lowest precedence first.
    Value expression(const Context &context);
    Value orExpression(const Context &context);
    Value andExpression(const Context &context);
    Value equality(const Context &context);
    Value relational(const Context &context);
    Value compare(const Value &left, const Value &right, const Context &context);
    Value additive(const Context &context);
    Value multiplicative(const Context &context);
    Value unary(const Context &context);
    Value unionExpression(const Context &context);

    // A location path, or a filter expression with the path that may follow it.
    Value path(const Context &context);
    bool startsStep();
    Value relativePath(Value value, const Context &context);
    Value locationStep(const Value &from, const Context &context);
    void nodeTest();
    // One step from every node of a set; its predicates and the evaluation's set come after.
    Value step(const Value &from, Axis axis);
    // "[" read: the predicate runs once for each item of the set it filters.
    void predicate(const Value &candidates);

    void literal();
    Value primary(const Context &context);
    Value call(const QByteArray &name, const std::vector<Value> &arguments, const Context &context);

    const QByteArray m_text;
    const Shape m_shape;
    const double m_all; // nodes and attributes
    int m_pos = 0;
    int m_nesting = 0;
    double m_work = 0;
    bool m_failed = false;};

} // namespace xpath_cost
