// What an XPath expression may cost, judged before it runs: pugixml cannot interrupt an
// evaluation, so an expression is refused when its work could grow faster than the document
// (hasBoundedCost, by its text) or could pass a budget on the document at hand (workBound).
#pragma once

#include <QByteArray>

namespace pugi {
class xml_node;
}

namespace xpath_cost {

// What bounds the work of an expression on one document.
struct Shape {
    double nodes = 1; // with the document node
    double attributes = 0;
    double fanout = 0; // the most children of one node
    double attributesEach = 0; // the most attributes of one element
    double depth = 0;
    double chars = 0; // names, values and text together, in bytes
    // What building the document's string value copies: pugixml appends one text piece at a
    // time, and each append may copy all text before it, so this is the sum over the text
    // pieces of the text up to and including each. No element's string value copies more.
    double textCopies = 0;
};

// What the text alone tells, without a walk over the document: a node needs at least two bytes
// of it (an element four, text beside it one), an attribute four, and the parse refused anything
// deeper than the limit. Parsing never makes names, values or text longer.
Shape shapeOfText(int bytes);
// The document's own, for what the text alone would refuse.
Shape shapeOf(const pugi::xml_node &root);
// What one quick walk over a document that textBytes of text parse to tells (its nodes, widest
// fan-out and depth; the rest as the text tells), false as soon as a node lies deeper than
// depthLimit. Between shapeOfText and shapeOf: what is found cheaply when the document is parsed.
// textBesideText, when given, tells whether two text nodes lie side by side somewhere.
bool walkShape(const pugi::xml_node &root, int textBytes, int depthLimit, Shape *shape,
               bool *textBesideText = nullptr);

// Expressions whose work grows faster than the document are refused before they run. A path
// inside a predicate is evaluated once for every candidate, so an absolute or descendant path
// there squares the work (//a[count(//a) > 1] visits every node once per node), and so does a
// sibling, following or preceding axis anywhere. Inside a predicate only the node's own
// attributes, children, parent and itself may be asked for. Each descendant or ancestor step
// after the first costs up to the document's nodes times its depth, so there may be two; each
// union sorts everything selected so far, so there may be four. What these rules let through can
// still multiply (predicates nested in predicates); WorkBound weighs that against the document.
bool hasBoundedCost(const QByteArray &xpath);

// An upper bound of the work xpath does on a document of the given shape, in node visits (see
// WorkBound); infinite for what cannot be read.
double workBound(const QByteArray &xpath, const Shape &shape);

} // namespace xpath_cost
