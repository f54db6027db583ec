#include "xpath_cost.h"

#include "profile_store.h"
#include "xpath_work_bound.h"

#include <pugixml.hpp>

namespace xpath_cost {

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

Shape shapeOfText(int bytes)
{
    Shape shape;
    shape.nodes = bytes / 2.0 + 2;
    shape.attributes = shape.attributesEach = bytes / 4.0;
    shape.fanout = shape.nodes;
    shape.depth = ProfileStore::kMaxDepth;
    shape.chars = bytes;
    shape.textCopies = shape.nodes * bytes;
    return shape;
}

namespace {

// Adds a text piece to what building a string value copies (Shape::textCopies).
void addTextPiece(const pugi::xml_node &node, double *text, double *copies)
{
    if (node.type() == pugi::node_pcdata || node.type() == pugi::node_cdata) {
        *text += double(std::strlen(node.value()));
        *copies += *text;
    }
}

} // namespace

Shape shapeOf(const pugi::xml_node &root)
{
    Shape shape;
    double depth = 0;
    double text = 0;
    pugi::xml_node node = root;
    for (;;) {
        addTextPiece(node, &text, &shape.textCopies);
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

bool walkShape(const pugi::xml_node &root, int textBytes, int depthLimit, Shape *shape, bool *textBesideText)
{
    // depth() is 0 for root's children; children[level] counts those of the node last visited
    // one level up.
    struct Walker : pugi::xml_tree_walker {
        int limit;
        Shape shape;
        double text = 0;
        std::vector<double> children;
        bool *textBesideText;
        Walker(int limit, bool *textBesideText)
            : limit(limit), children(size_t(limit) + 1, 0), textBesideText(textBesideText)
        {
        }
        bool for_each(pugi::xml_node &node) override
        {
            const int level = depth();
            if (level >= limit)
                return false;
            ++shape.nodes;
            shape.fanout = std::max(shape.fanout, ++children[size_t(level)]);
            shape.depth = std::max(shape.depth, double(level + 1));
            children[size_t(level) + 1] = 0;
            addTextPiece(node, &text, &shape.textCopies);
            if (textBesideText && node.type() == pugi::node_pcdata
                && node.previous_sibling().type() == pugi::node_pcdata)
                *textBesideText = true;
            return true;
        }
    } walker(depthLimit, textBesideText);
    if (textBesideText)
        *textBesideText = false;
    const Shape text = shapeOfText(textBytes);
    walker.shape.attributes = text.attributes;
    walker.shape.attributesEach = text.attributesEach;
    walker.shape.chars = text.chars;
    if (!pugi::xml_node(root).traverse(walker))
        return false;
    *shape = walker.shape;
    return true;
}

double workBound(const QByteArray &xpath, const Shape &shape)
{
    return WorkBound(xpath, shape).estimate();
}

// Values, steps, predicates and functions: what each part of an expression costs.

double WorkBound::allStrings(const Value &value) const
{
    // Building one string value copies at most textCopies characters; a text piece lies below at
    // most depth + 1 nodes, so the distinct ones together copy at most that many times as much.
    const double subtrees = value.multiplicity * (m_shape.depth + 1);
    return std::min(value.total * m_shape.nodes, subtrees * m_shape.nodes)
        + std::min(value.total * m_shape.chars, subtrees * m_shape.chars) / 16
        + std::min(value.total, subtrees) * m_shape.textCopies / 16;
}

WorkBound::Value WorkBound::asString(const Value &value, const Context &context)
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

WorkBound::Value WorkBound::settled(Value value, const Context &context) const
{
    value.each = std::min(value.each, m_all);
    value.multiplicity = std::min(value.multiplicity, context.evaluations);
    value.total = std::min(value.total, context.evaluations * m_all);
    return value;
}

WorkBound::Value WorkBound::step(const Value &from, Axis axis)
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

void WorkBound::predicate(const Value &candidates)
{
    const Context context{candidates.total, candidates.multiplicity};
    const Value test = expression(context);
    if (test.nodes)
        add(test.total);
    expect("]");
}

void WorkBound::literal()
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

WorkBound::Value WorkBound::primary(const Context &context)
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

WorkBound::Value WorkBound::call(const QByteArray &name, const std::vector<Value> &arguments, const Context &context)
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
} // namespace xpath_cost
