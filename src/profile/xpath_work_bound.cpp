// The XPath grammar as WorkBound reads it: expressions and location paths.
#include "xpath_work_bound.h"

namespace xpath_cost {

WorkBound::Value WorkBound::expression(const Context &context)
{
    if (++m_nesting > kMaxNesting)
        m_failed = true;
    Value value = m_failed ? Value() : orExpression(context);
    --m_nesting;
    return value;
}

WorkBound::Value WorkBound::orExpression(const Context &context)
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

WorkBound::Value WorkBound::andExpression(const Context &context)
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

WorkBound::Value WorkBound::equality(const Context &context)
{
    Value left = relational(context);
    while (!m_failed && (accept("!=") || accept("=")))
        left = compare(left, relational(context), context);
    return left;
}

WorkBound::Value WorkBound::relational(const Context &context)
{
    Value left = additive(context);
    while (!m_failed && (accept("<=") || accept(">=") || accept("<") || accept(">")))
        left = compare(left, additive(context), context);
    return left;
}

WorkBound::Value WorkBound::compare(const Value &left, const Value &right, const Context &context)
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

WorkBound::Value WorkBound::additive(const Context &context)
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

WorkBound::Value WorkBound::multiplicative(const Context &context)
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

WorkBound::Value WorkBound::unary(const Context &context)
{
    if (accept("-")) {
        asString(unary(context), context);
        add(context.evaluations);
        return scalar(context, 24);
    }
    return unionExpression(context);
}

WorkBound::Value WorkBound::unionExpression(const Context &context)
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

WorkBound::Value WorkBound::path(const Context &context)
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

bool WorkBound::startsStep()
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

WorkBound::Value WorkBound::relativePath(Value value, const Context &context)
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

WorkBound::Value WorkBound::locationStep(const Value &from, const Context &context)
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

void WorkBound::nodeTest()
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
} // namespace xpath_cost
