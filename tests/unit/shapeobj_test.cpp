// Shape objects seen from native code: VectorOps reads the records the
// instance command lists, watchers hear of changes, and the canvas's
// building operations fill a store.
#include <gtest/gtest.h>
#include <stdlib.h>
#include <string.h>
#include <string>
#include <vector>

#include "core/families.h"
#include "tests/unit/harness.h"
#include "vector/shapecmd.h"
#include "vector/shapeobj.h"
#include "vesk/object.h"

using namespace vesk;

namespace {

std::string fixture(const std::string &name) {
  const char *source = getenv("VESK_SOURCE_DIR");
  return std::string(source ? source : ".") + "/tests/data/shape/" + name;
}

std::string eval(const std::string &script) {
  Tcl_Interp *interp = testInterp();
  EXPECT_EQ(Tcl_Eval(interp, script.c_str()), TCL_OK) << script << ": "
                                                       << Tcl_GetStringResult(interp);
  return Tcl_GetStringResult(interp);
}

// The numbers of a Tcl list that may nest one level (vertex, parts, bbox).
std::vector<double> numbers(const std::string &list) {
  std::vector<double> out;
  Tcl_Obj *obj = Tcl_NewStringObj(list.c_str(), -1);
  Tcl_IncrRefCount(obj);
  int n;
  Tcl_Obj **items;
  Tcl_ListObjGetElements(nullptr, obj, &n, &items);
  for (int i = 0; i < n; i++) {
    int m;
    Tcl_Obj **inner;
    Tcl_ListObjGetElements(nullptr, items[i], &m, &inner);
    for (int k = 0; k < m; k++) {
      double v;
      Tcl_GetDoubleFromObj(nullptr, inner[k], &v);
      out.push_back(v);
    }
  }
  Tcl_DecrRefCount(obj);
  return out;
}

// Not a template: deduction would drop the 4-byte alignment of ShapeDouble.
std::vector<double> copyOut(const ShapeDouble *values, int n) {
  std::vector<double> out;
  for (int i = 0; values && i < n; i++) {
    double v = values[i];
    out.push_back(v);
  }
  return out;
}

std::vector<double> copyOut(const int32_t *values, int n) {
  std::vector<double> out;
  for (int i = 0; values && i < n; i++) {
    double v = values[i];
    out.push_back(v);
  }
  return out;
}

struct OpenedShape {
  RAMOBJ *object = nullptr;
  const VectorOps *ops = nullptr;
  explicit OpenedShape(const std::string &name) {
    EXPECT_EQ(openObject(testInterp(), OBJ_SHAPE, name.c_str(), &object), 0)
        << Tcl_GetStringResult(testInterp());
    if (object) ops = static_cast<const VectorOps *>(object->ops.methods);
  }
  ~OpenedShape() {
    if (object) closeObject(object);
  }
};

void countCalls(RAMOBJ *, ClientData data) { ++*static_cast<int *>(data); }

}  // namespace

TEST(ShapeObject, VectorOpsReadTheSameRecordsAsTheCommand) {
  ASSERT_EQ(Shape_Init(testInterp()), 0);
  struct Case {
    const char *file;
    int kind;
  } cases[] = {{"point.shp", KIND_POINT},     {"multipoint.shp", KIND_POINT},
               {"polyline.shp", KIND_LINE},   {"polygon.shp", KIND_POLYGON},
               {"polylinez.shp", KIND_LINE},  {"polylinem.shp", KIND_LINE}};
  for (const Case &c : cases) {
    SCOPED_TRACE(c.file);
    eval("shape.create vo -file " + fixture(c.file));
    {
      OpenedShape shape("vo");
      ASSERT_NE(shape.ops, nullptr);
      RAMOBJ *object = shape.object;
      EXPECT_EQ(object->ops.type(object), c.kind);
      int count = object->ops.count(object);
      EXPECT_EQ(std::to_string(count), eval("vo count"));
      for (int i = 0; i < count; i++) {
        SCOPED_TRACE(i);
        std::string index = std::to_string(i);
        EXPECT_EQ(std::to_string(shape.ops->recordNumber(object, i)), eval("vo id " + index));
        int n;
        const ShapeDouble *points = shape.ops->recordPoints(object, i, &n);
        EXPECT_EQ(copyOut(points, 2 * n), numbers(eval("vo vertex " + index)));
        int kind, p;
        const int32_t *parts = shape.ops->recordParts(object, i, &kind, &p);
        EXPECT_EQ(kind, c.kind);
        if (parts) {
          EXPECT_EQ(copyOut(parts, p), numbers(eval("vo parts " + index)));
        }
        const ShapeDouble *box = shape.ops->recordBox(object, i);
        EXPECT_EQ(copyOut(box, box ? 4 : 0), numbers(eval("vo bbox " + index)));
        EXPECT_EQ(std::to_string(shape.ops->isSelected(object, i)), eval("vo isselected " + index));
      }
    }
    eval("rename vo {}");
  }
}

TEST(ShapeObject, WatchersHearOfChangesAndSelection) {
  ASSERT_EQ(Shape_Init(testInterp()), 0);
  eval("shape.create vw -update 0 -file " + fixture("five.shp"));
  {
    OpenedShape shape("vw");
    ASSERT_NE(shape.ops, nullptr);
    int calls = 0;
    ASSERT_EQ(objAcquire(shape.object, countCalls, &calls), 1);
    eval("vw select 0");
    eval("vw setrange");  // the watchers are not told of this one
    eval("vw unselect 1");
    EXPECT_EQ(calls, 2);
    EXPECT_EQ(shape.ops->isSelected(shape.object, 1), 0);
    EXPECT_EQ(shape.ops->unselectAll(shape.object), 4);
    shape.ops->toggle(shape.object, 3);
    shape.ops->select(shape.object, 99);  // outside the store: ignored
    EXPECT_EQ(shape.ops->countSelected(shape.object), 1);
    EXPECT_EQ(eval("vw isselected 3"), "1");
    objRelease(shape.object, countCalls, &calls);
  }
  eval("rename vw {}");
}

TEST(ShapeObject, BuildingAStoreThroughVectorOps) {
  ASSERT_EQ(Shape_Init(testInterp()), 0);
  eval("shape.create vb");
  {
    OpenedShape shape("vb");
    ASSERT_NE(shape.ops, nullptr);
    RAMOBJ *object = shape.object;
    EXPECT_EQ(shape.ops->newPayload(object, 0x300, nullptr, nullptr, 0), nullptr);
    EXPECT_EQ(object->payload, nullptr);
    int32_t partCounts[1] = {2}, pointCounts[1] = {4};
    ASSERT_NE(shape.ops->newPayload(object, KIND_LINE, partCounts, pointCounts, 1), nullptr);
    EXPECT_EQ(eval("vb type"), "POLYLINE");
    double points[8] = {0, 0, 1, 1, 2, 2, 3, 3};
    int32_t lengths[2] = {2, 2};
    EXPECT_EQ(shape.ops->setRecord(object, 0, points, 4, lengths, 2, nullptr, nullptr, nullptr), 4);
    EXPECT_EQ(eval("vb vparts 0"), "{0 0 1 1 2 2 3 3 {2 2}}");
    // A record too small for the new content is left as it was.
    double more[10] = {9, 9, 9, 9, 9, 9, 9, 9, 9, 9};
    EXPECT_EQ(shape.ops->setRecord(object, 0, more, 5, lengths, 2, nullptr, nullptr, nullptr), 0);
    EXPECT_EQ(eval("vb vparts 0"), "{0 0 1 1 2 2 3 3 {2 2}}");
    ASSERT_NE(shape.ops->addRecord(object, 0, more, 2, nullptr, 0, nullptr, nullptr, nullptr), nullptr);
    EXPECT_EQ(eval("vb id"), "1 2");
    EXPECT_EQ(shape.ops->recordSize(object, KIND_POLYGON, 4, 1), 52 + 4 + 64);
  }
  eval("rename vb {}");
}

namespace {
// A stand-in table object: three rows, the middle one not selected.
int tableCount(RAMOBJ *) { return 3; }
int tableSelected(RAMOBJ *, int row) { return row != 1; }
int tableCmd(ClientData, Tcl_Interp *, int, const char **) { return TCL_OK; }
}  // namespace

TEST(ShapeObject, MatchTakesTheSelectionOfATable) {
  ASSERT_EQ(Shape_Init(testInterp()), 0);
  RAMOBJ *table = reinterpret_cast<RAMOBJ *>(Tcl_Alloc(sizeof(RAMOBJ)));
  memset(table, 0, sizeof *table);
  table->magic = RAMOBJ_MAGIC;
  table->classId = OBJ_TABLE;
  table->version = RAMOBJ_VERSION;
  table->ops.count = tableCount;
  table->ops.selected = tableSelected;
  table->ops.acquire = objAcquire;
  table->ops.release = objRelease;
  table->ops.close = objClose;
  table->ops.command = tableCmd;
  Tcl_CreateCommand(testInterp(), "fakeTable", tableCmd, table, objDelete);
  eval("shape.create vm -file " + fixture("five.shp"));
  eval("vm unselect 0 1 2 3");
  eval("vm deleteshape 2");
  EXPECT_EQ(eval("vm match fakeTable"), "");
  // Rows 0..2 decide records 0..2 (the deleted one stays deleted); 3 and 4 are left alone.
  EXPECT_EQ(eval("list [vm isselected 0] [vm isselected 1] [vm isselected 2] [vm countdeletions]"
                 " [vm isselected 3] [vm isselected 4]"),
            "1 0 0 1 0 1");
  EXPECT_NE(Tcl_Eval(testInterp(), "vm match nosuch"), TCL_OK);
  EXPECT_STREQ(Tcl_GetStringResult(testInterp()), "Fail to open the object: nosuch");
  EXPECT_NE(Tcl_Eval(testInterp(), "vm match vm"), TCL_OK);
  EXPECT_STREQ(Tcl_GetStringResult(testInterp()), "Not the type of RAMOBJ");
  EXPECT_NE(Tcl_Eval(testInterp(), "vm match"), TCL_OK);
  EXPECT_STREQ(Tcl_GetStringResult(testInterp()), "Usage: vm match tableObj");
  eval("rename vm {}");
  eval("rename fakeTable {}");
}
