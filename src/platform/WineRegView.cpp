// The 64-bit view redirection of Wine's registry, read from the file's
// text: a key as a 32-bit program finds it in a 64-bit prefix (through
// Wow6432Node keys and link keys) or a 64-bit program through the links
// alone. One pass over the file learns the keys on the way to the path; a
// link that leads off that way costs one more pass.

#include "platform/WineRegView.h"

#include "platform/WineRegScan.h"

#include <QHash>
#include <QSet>

#include <algorithm>
#include <deque>

namespace WineRegText {

bool isWin64(const QByteArray& bytes)
{
    qsizetype begin = 0;
    while (begin < bytes.size() && bytes[begin] != '[') {
        qsizetype end = bytes.indexOf('\n', begin);
        if (end < 0)
            end = bytes.size();
        if (QByteArrayView(bytes).sliced(begin, end - begin).trimmed() == "#arch=win64")
            return true;
        begin = end + 1;
    }
    return false;
}

namespace {

const QString wow6432Node = QStringLiteral("Wow6432Node");

bool isWowName(QStringView folded)
{
    return folded == u"wow6432node";
}

// The folded names without the Wow6432Node ones, joined: where a key lies
// whichever view it belongs to.
QString foldedWithoutWow(const QStringList& names)
{
    QStringList kept;
    for (const QString& name : names) {
        const QString folded = foldCase(name);
        if (!folded.isEmpty() && !isWowName(folded))
            kept << folded;
    }
    return kept.join(u'\\');
}

// How a key's path (folded, joined) lies on the way to a path without
// Wow6432Node names, reading past the key's Wow6432Node names: the length of
// its first part that lies on that way (the path itself in some view
// included), and whether the key is that path in some view.
struct KeyOnPath {
    qsizetype onTheWay = 0;
    bool isPath = false;
};

KeyOnPath keyOnPath(QStringView key, QStringView path)
{
    qsizetype k = 0;
    qsizetype p = 0;
    bool reached = path.isEmpty();
    qsizetype lengthOnTheWay = 0;
    while (k < key.size()) {
        qsizetype end = key.indexOf(u'\\', k);
        if (end < 0)
            end = key.size();
        const QStringView name = key.sliced(k, end - k);
        if (!isWowName(name)) {
            if (reached)
                return {lengthOnTheWay, false};
            qsizetype pathEnd = path.indexOf(u'\\', p);
            if (pathEnd < 0)
                pathEnd = path.size();
            if (name != path.sliced(p, pathEnd - p))
                return {lengthOnTheWay, false};
            p = pathEnd + 1;
            reached = p > path.size();
        }
        lengthOnTheWay = end;
        k = end + 1;
    }
    return {key.size(), reached};
}

// Folded key paths and every key above each, as a tree of names: a path
// of many names costs its length, where a string per key above it cost the
// square of that. On the way to a path a key holds that path's names and
// any number of Wow6432Node names between them; a run of those is kept as
// its length, so that memory grows with the other names only.
class KeyTree {
public:
    void add(QStringView path)
    {
        int node = 0;
        qsizetype wowRun = 0;
        forEachName(path, [&](QStringView name) {
            if (isWowName(name)) {
                ++wowRun;
                return true;
            }
            noteWowRun(node, wowRun);
            const Edge edge{node, wowRun, name};
            auto it = children_.find(edge);
            if (it == children_.end()) {
                names_.push_back(name.toString());
                it = children_.insert(Edge{node, wowRun, names_.back()}, int(longestRun_.size()));
                longestRun_.push_back(0);
            }
            node = it.value();
            wowRun = 0;
            return true;
        });
        noteWowRun(node, wowRun);
    }
    bool contains(QStringView path) const
    {
        int node = 0;
        qsizetype wowRun = 0;
        const bool found = forEachName(path, [&](QStringView name) {
            if (isWowName(name)) {
                ++wowRun;
                return true;
            }
            const auto it = children_.constFind(Edge{node, wowRun, name});
            if (it == children_.cend())
                return false;
            node = it.value();
            wowRun = 0;
            return true;
        });
        return found && wowRun <= longestRun_[size_t(node)];
    }

private:
    // A name after `wowRun` Wow6432Node names below the key `parent`.
    struct Edge {
        int parent;
        qsizetype wowRun;
        QStringView name;
        bool operator==(const Edge& other) const
        {
            return parent == other.parent && wowRun == other.wowRun && name == other.name;
        }
    };
    friend size_t qHash(const Edge& edge, size_t seed) { return qHashMulti(seed, edge.parent, edge.wowRun, edge.name); }
    template <typename Visit>
    static bool forEachName(QStringView path, Visit&& visit)
    {
        for (qsizetype begin = 0; begin < path.size();) {
            qsizetype end = path.indexOf(u'\\', begin);
            if (end < 0)
                end = path.size();
            if (!visit(path.sliced(begin, end - begin)))
                return false;
            begin = end + 1;
        }
        return true;
    }
    void noteWowRun(int node, qsizetype wowRun)
    {
        longestRun_[size_t(node)] = std::max(longestRun_[size_t(node)], wowRun);
    }

    std::deque<QString> names_; // what the edges' names point into
    QHash<Edge, int> children_;
    // For each key (0 the hive, none before a key is added): the longest
    // run of Wow6432Node names found right below it.
    std::vector<qsizetype> longestRun_{-1};
};

// What a view needs to know of the keys on the way to some paths, learnt in
// one pass: which keys exist there, which of them are links and where they
// lead, and the values of the keys that are those paths in some view. Keys
// below a path are left out: the lookup asks for one only past a link, and
// learns it then as a path of its own.
struct KeysOnTheWay {
    QStringList paths;                       // folded, without Wow6432Node names
    KeyTree existing;                        // folded: the keys on the way, with their parents
    QSet<QString> linkKeys;                  // folded: the link keys among them ("#link" in any block)
    QHash<QString, QStringList> linkTargets; // folded -> names below the machine hive; none: elsewhere
    QHash<QString, std::vector<Value>> pathValues; // folded: the values of the keys that are the paths
    bool hiveHasKeys = false;

    // Whether the key lies on the way to one of the paths, so that the pass
    // learnt whether it exists.
    bool covers(const QString& folded) const
    {
        return std::any_of(paths.begin(), paths.end(),
                           [&](const QString& path) { return keyOnPath(folded, path).onTheWay == folded.size(); });
    }
    bool isOneOfPaths(const QString& folded) const
    {
        return std::any_of(paths.begin(), paths.end(),
                           [&](const QString& path) { return keyOnPath(folded, path).isPath; });
    }
};

// The names below the machine hive of a link's target
// ("\Registry\Machine\Software\Classes\AppId"); none for another hive.
QStringList linkTarget(const QString& target)
{
    static const QString machine = QStringLiteral("\\registry\\machine\\");
    if (foldCase(target.left(machine.size())) != machine)
        return {};
    return target.mid(machine.size()).split(u'\\', Qt::SkipEmptyParts);
}

// Nothing when the bytes are not a Wine registry file.
std::optional<KeysOnTheWay> learnKeysOnTheWay(const QByteArray& bytes, const QStringList& paths)
{
    struct Learner {
        KeysOnTheWay& known;
        bool onTheWay = false; // in a key that lies on the way to a path
        QString currentKey;    // its folded path
        bool isPath = false;   // that key is one of the paths in some view

        void key(int, QString&& path, qsizetype)
        {
            const QString folded = foldCase(path);
            known.hiveHasKeys = true;
            isPath = false;
            qsizetype longest = 0;
            for (const QString& asked : known.paths) {
                const KeyOnPath on = keyOnPath(folded, asked);
                longest = std::max(longest, on.onTheWay);
                isPath = isPath || on.isPath;
            }
            if (longest > 0)
                known.existing.add(QStringView(folded).first(longest));
            onTheWay = longest == folded.size();
            currentKey = onTheWay ? folded : QString();
        }
        // A link's option and its value may stand in different blocks of
        // the key: the values of every key on the way to the paths are
        // looked at.
        bool wantsValues() const { return onTheWay; }
        void value(Value&& value)
        {
            if (!onTheWay)
                return;
            if (foldCase(value.name) == u"symboliclinkvalue")
                known.linkTargets.insert(currentKey, value.type == RegLink && value.link ? linkTarget(*value.link)
                                                                                         : QStringList());
            if (isPath)
                known.pathValues[currentKey].push_back(std::move(value));
        }
        void content(int, int, QByteArrayView text)
        {
            if (onTheWay && text.startsWith("#link"))
                known.linkKeys.insert(currentKey);
        }
    };
    KeysOnTheWay known;
    known.paths = paths;
    Learner learner{known, false, {}, false};
    LineCursor lines(bytes, nullptr);
    bool cutShort = false;
    if (!scanFile(lines, learner, &cutShort))
        return std::nullopt;
    return known;
}

// Wineserver's lookup of a key, name by name, over the keys one pass
// learnt; nothing, and in pathToLearn the path to learn as well, when it
// needs a key the pass did not look at (one a link leads to: learnt with the
// names of the path still to come after it, so that one more pass takes the
// lookup on).
struct NameByNameLookup {
    const KeysOnTheWay& known;
    bool view32;
    QString pathToLearn;    // folded, without Wow6432Node names
    QStringList namesAfter; // the names of the path after the key being looked for

    // Whether the key exists; nothing when the pass did not learn it.
    std::optional<bool> exists(const QStringList& names)
    {
        const QString folded = foldPath(names);
        if (known.covers(folded))
            return known.existing.contains(folded);
        pathToLearn = foldedWithoutWow(names + namesAfter);
        return std::nullopt;
    }
    // A 32-bit program's key that holds a Wow6432Node subkey is that subkey.
    // False when the pass did not learn whether it holds one.
    bool enterWowSubkey(QStringList& reached)
    {
        if (!view32 || reached.isEmpty() || isWowName(foldCase(reached.back())))
            return true;
        const std::optional<bool> wow = exists(reached + QStringList{wow6432Node});
        if (wow && *wow)
            reached << wow6432Node;
        return wow.has_value();
    }
    std::optional<ViewLookup> find(const QStringList& path)
    {
        using State = ViewLookup::State;
        const auto result = [](State state, QStringList key) { return ViewLookup{state, std::move(key), {}}; };
        // The hive itself is there once it holds a key.
        if (path.isEmpty())
            return result(known.hiveHasKeys ? State::Exists : State::Missing, {});
        QStringList reached; // the key found so far, in the view
        bool afterLink = false;
        for (qsizetype i = 0; i < path.size(); ++i) {
            namesAfter = path.mid(i);
            // Straight after a link the key it named is searched as it is.
            if (!afterLink && !isWowName(foldCase(path[i])) && !enterWowSubkey(reached))
                return std::nullopt;
            afterLink = false;
            namesAfter.removeFirst();
            const QStringList next = reached + QStringList{path[i]};
            const std::optional<bool> nextExists = exists(next);
            if (!nextExists)
                return std::nullopt;
            if (!*nextExists)
                return result(State::Missing, reached + path.mid(i));
            reached = next;
            for (int hops = 0; known.linkKeys.contains(foldPath(reached)); ++hops) {
                const QStringList target = known.linkTargets.value(foldPath(reached));
                if (target.isEmpty() || hops >= 16)
                    return result(State::Unreachable, reached);
                const std::optional<bool> targetExists = exists(target);
                if (!targetExists)
                    return std::nullopt;
                if (!*targetExists) // only the key itself may be made where its link leads
                    return result(i + 1 < path.size() ? State::Unreachable : State::Missing, target);
                reached = target;
                afterLink = true;
            }
        }
        namesAfter.clear();
        if (!enterWowSubkey(reached))
            return std::nullopt;
        return result(State::Exists, reached);
    }
};

} // namespace

std::optional<ViewLookup> lookUpInView(const QByteArray& bytes, const QStringList& path, bool view32)
{
    QStringList names = path;
    names.removeAll(QString());
    QStringList pathsToLearn{foldedWithoutWow(names)};
    // Each further pass learns what the lookup met off the way to the paths
    // learnt so far: a link that leads elsewhere.
    for (int pass = 0; pass < 8; ++pass) {
        const std::optional<KeysOnTheWay> known = learnKeysOnTheWay(bytes, pathsToLearn);
        if (!known)
            return std::nullopt;
        NameByNameLookup lookup{*known, view32, {}, {}};
        std::optional<ViewLookup> found = lookup.find(names);
        if (found) {
            if (found->state == ViewLookup::State::Exists) {
                const QString folded = foldPath(found->key);
                if (known->isOneOfPaths(folded))
                    found->values = known->pathValues.value(folded);
                else if (std::optional<Lookup> values = lookUp(bytes, {found->key}))
                    found->values = std::move(values->values[0]);
            }
            return found;
        }
        if (pathsToLearn.contains(lookup.pathToLearn))
            break;
        pathsToLearn << lookup.pathToLearn;
    }
    return ViewLookup{ViewLookup::State::Unreachable, names, {}};
}

} // namespace WineRegText
