// The shape object's store subcommands, driven through a bare command that
// holds one store: listing, per-type record checks, selection, erasing,
// value editing, and "shape.info".
#include <gtest/gtest.h>
#include <stdlib.h>
#include <string>
#include <vector>

#include "tests/unit/harness.h"
#include "vector/shapecmd.h"
#include "vector/shapefile.h"

using namespace vesk;

namespace {

std::string fixture(const std::string &name) {
  const char *source = getenv("VESK_SOURCE_DIR");
  return std::string(source ? source : ".") + "/tests/data/shape/" + name;
}

// A command "st" over one store; counts the times its watchers would be told.
struct StoreCommand {
  ShapeFile *store = nullptr;
  int updates = 0;
  static int proc(ClientData data, Tcl_Interp *interp, int argc, const char **argv) {
    StoreCommand *self = static_cast<StoreCommand *>(data);
    ShapeCommandState state;
    int code = shapeStoreCommand(self->store, interp, argc, argv, nullptr, state);
    if (state.changed) self->updates++;
    return code;
  }
  StoreCommand() { Tcl_CreateCommand(testInterp(), "st", proc, this, nullptr); }
  ~StoreCommand() {
    Tcl_DeleteCommand(testInterp(), "st");
    freeShapeFile(store);
  }
  void load(const char *name) {
    freeShapeFile(store);
    int status;
    store = openShapeFile(fixture(name).c_str(), &status);
    ASSERT_NE(store, nullptr);
  }
};

struct Outcome {
  int code;
  std::string result;
  bool operator==(const Outcome &o) const { return code == o.code && result == o.result; }
};
std::ostream &operator<<(std::ostream &out, const Outcome &o) {
  return out << (o.code == TCL_OK ? "ok: " : "error: ") << o.result;
}

Outcome run(const std::string &script) {
  int code = Tcl_Eval(testInterp(), script.c_str());
  return {code, Tcl_GetStringResult(testInterp())};
}
Outcome ok(const std::string &result) { return {TCL_OK, result}; }
Outcome error(const std::string &result) { return {TCL_ERROR, result}; }

struct Row {
  const char *script;
  Outcome expected;
};

void runRows(const std::vector<Row> &rows) {
  for (const Row &row : rows) {
    SCOPED_TRACE(row.script);
    EXPECT_EQ(run(row.script), row.expected);
  }
}

}  // namespace

TEST(ShapeCommand, WithoutAStore) {
  StoreCommand st;
  runRows({
      {"st count", error("Undefined object")},
      {"st info", error("Undefined object")},
      {"st bogus", error("Undefined object")},
      {"st initialize polygon",
       error("Invalid shapeID. Should be NULL POINT POLYLINE POLYGON MULTIPOINT POINTZ POLYLINEZ "
             "POLYGONZ MULTIPOINTZ POINTM POLYLINEM POLYGONM MULTIPOINTM MULTIPATCH")},
      {"st in", error("Usage: st initialize shapeID")},
      {"st in POLYGON", ok("")},
      {"st type", ok("POLYGON")},
      {"st countsel", ok("0")},
      {"st bogus", error("Unknown command")},
  });
}

TEST(ShapeCommand, ListingTheFixtures) {
  StoreCommand st;
  st.load("polyline.shp");
  runRows({
      {"st vparts 0 1", ok("{0 0 10 10} {0 0 1 0 2 0 0 1 1 1 2 1 3 1 0 2 1 2 2 2 {3 4 3}}")},
      {"st parts all", ok("2 {3 4 3}")},
      {"st parts count", ok("4")},
      {"st parts count 1", ok("3")},
      {"st vertex count", ok("12")},
      {"st vertex count 0", ok("2")},
      {"st vertex x", error("invalid index")},
      {"st vertex 0", ok("{0 0 10 10}")},
      {"st bbox all", ok("{0 0 10 10} {0 0 3 2}")},
      {"st bbox", error("Usage: st bbox ?index? | all")},
      {"st id", ok("1 2")},
      {"st info",
       ok("{shapeID 9994} {version 1000} {typeID 3} {type POLYLINE} {length 206} "
          "{xyrange {0 0 10 10}} {zrange {0 0}} {mrange {0 0}} {count 2}")},
      {"st mvalues all", error("st has no measurement values")},
      {"st patchtypes all", error("st is not a multipatch shape object")},
      {"st isselected 1", ok("1")},
      {"st isselected", error("Usage: st isselected index")},
  });
  st.load("point.shp");
  runRows({{"st bbox all", ok("")}, {"st vertex all", ok("{1 2} {-3.5 4.25} {10 -20}")}});
  st.load("polylinez.shp");
  runRows({{"st zvalues all", ok("{1 2 3 4}")}, {"st mvalues 0", ok("{5 6 7 8}")}});
}

TEST(ShapeCommand, PerTypeRecordChecks) {
  StoreCommand st;
  struct Case {
    const char *type;
    const char *words;
    Outcome expected;
  } cases[] = {
      {"POLYLINE", "{0 0 1 1 2 2} {2 1}", error("Error in parsing verticeList")},
      {"POLYLINE", "{0 0 1 1 2 2 3 3} {2 2}", ok("")},
      {"POLYLINE", "{0 0 1 1 2 2 3 3} {}", error("Error in parsing verticeList")},
      {"POLYLINE", "{0 0 1 1} {3}", error("Invalid part sepcification")},
      {"POLYLINE", "{0 0 1} ", error("Error in parsing verticeList")},
      {"POLYLINE", "{0 0 1 1} {2} {1 2}",
       error("z value list or m value list or type list is not allowed for POLYLINE")},
      {"POLYGON", "{0 0 0 1 1 1 0 0}", ok("")},
      {"POLYGON", "{0 0 0 1 1 1 1 0}", error("Error in parsing verticeList")},
      {"POINT", "{0 0 1 1}", error("More than one points for POINT")},
      {"POINT", "{0 0} {} {5}", error("z value list or m value list or typeList is not allowed for POINT")},
      {"POLYLINEM", "{0 0 1 1} {2} {5 6}", ok("")},
      {"POLYLINEM", "{0 0 1 1} {2}", error("missing m value list for POLYLINEM")},
      {"POLYLINEM", "{0 0 1 1} {2} {5}", error("Unequal numbers of veritces and m values")},
      {"POLYLINEM", "{0 0 1 1} {2} {5 6} {1 2}",
       error("z value list or type list is not allowed for POLYLINEM")},
      {"MULTIPOINT", "{0 0 1 1} {1}", error("Invalid part specification for MULTIPOINT")},
      {"MULTIPOINT", "{0 0 1 1} {0}", ok("")},
      {"MULTIPOINTZ", "{0 0} {} {1}", error("missing z value list for MULTIPOINTZ")},
      {"POINTZ", "{0 0} {} {1}", error("missing z value list for POINTZ")},
      {"POINTZ", "{0 0} {} {1} {2} {}", error("type list is not allowed for POINTZ")},
      {"POINTZ", "{0 0} {} {1} {2}", ok("")},
      {"POINTM", "{0 0}", error("missing m value list for POINTM")},
      {"MULTIPATCH", "{0 0 1 1} {2} {1 2} {3 4}", error("missing type list for MULTIPATCH")},
      {"MULTIPATCH", "{0 0 1 1} {2} {1 2} {3 4} {5 6}", error("Unequal numbers of types and parts")},
      {"MULTIPATCH", "{0 0 1 1} {2} {1 2} {3 4} {5}", ok("")},
      {"NULL", "{}", ok("")},
  };
  for (const Case &c : cases) {
    SCOPED_TRACE(std::string(c.type) + " " + c.words);
    ASSERT_EQ(run(std::string("st initialize ") + c.type), ok(""));
    EXPECT_EQ(run(std::string("st addrecord ") + c.words), c.expected);
    EXPECT_EQ(st.store->count, c.expected.code == TCL_OK ? 1 : 0);
  }
  runRows({
      {"st in POLYLINE", ok("")},
      {"st add {0 0 1 1 2 2 3 3} {2 2}", ok("")},
      {"st vparts 0", ok("{0 0 1 1 2 2 3 3 {2 2}}")},
      {"st add", error("Usage: st add verticeList partList mvalueList zvalueList typeList")},
      {"st ins 99 {5 5 6 6} {2}", ok("")},
      {"st ins -4 {7 7 8 8} {2}", ok("")},
      {"st vertex all", ok("{7 7 8 8} {0 0 1 1 2 2 3 3} {5 5 6 6}")},
      {"st id", ok("3 1 2")},
      {"st setre 1 {9 9 8 8}", ok("")},
      {"st vparts 1", ok("{9 9 8 8}")},
      {"st id 1", ok("1")},
      {"st setre 3 {9 9 8 8}", error("invalid index")},
      {"st setrecord", error("Usage: st setrecord index verticeList partList mvalueList zvalueList typeList")},
      {"st in POLYLINEM", ok("")},
      {"st add {0 0 1 1} {2} {5 6}", ok("")},
      {"st mvalues all", ok("{5 6}")},
  });
}

TEST(ShapeCommand, SelectionDeletionAndErasing) {
  StoreCommand st;
  st.load("five.shp");
  runRows({
      {"st select 0 99", error("invalid index")},
      {"st unselect", ok("")},
      {"st countselections", ok("0")},
      {"st select 0 1", ok("")},
      {"st countselections", ok("2")},
      {"st deleteshape 2", ok("")},
      {"st select 2", ok("")},
      {"st isselected 2", ok("0")},
      {"st countdeletions", ok("1")},
      {"st undeleteshape 2", ok("")},
      {"st isselected 2", ok("1")},
      {"st selectonly 4", ok("")},
      {"st countselections", ok("1")},
      {"st unselectonly 4", ok("")},
      {"st countselections", ok("4")},
      {"st aselect 0", ok("")},
      {"st isselected 0", ok("0")},
      {"st eraserecord 99", ok("")},
      {"st id", ok("1 2 3 4")},
      {"st eras -3", ok("")},
      {"st id", ok("2 3 4")},
      {"st eraserecord", error("Usage: st eraserecord index")},
      {"st dele 0 1", ok("")},
      {"st purge", ok("")},
      {"st id", ok("4")},
      {"st countselections", ok("1")},
  });
}

TEST(ShapeCommand, ValueEditingAndRanges) {
  StoreCommand st;
  st.load("polylinez.shp");
  int before = st.updates;
  runRows({
      {"st setvertices 0 {-5 -5}", ok("")},
      {"st bbox 0", ok("{-5 -5 3 3}")},
      {"st info", ok("{shapeID 9994} {version 1000} {typeID 13} {type POLYLINEZ} {length 160} "
                     "{xyrange {0 0 3 3}} {zrange {1 4}} {mrange {5 8}} {count 1}")},
      {"st setrange", ok("")},
      {"st info", ok("{shapeID 9994} {version 1000} {typeID 13} {type POLYLINEZ} {length 160} "
                     "{xyrange {-5 -5 3 3}} {zrange {1 4}} {mrange {5 8}} {count 1}")},
      {"st setzvalues 0 {9} 3", ok("")},
      {"st zvalues 0", ok("{1 2 3 9}")},
      {"st setzvalues 0 {9 9} 3", error("Invalid number of zvalues")},
      {"st setzvalues 0 {9} 4", error("Invalid offset")},
      {"st setzvalues 1 {9}", error("invalid index")},
      {"st setmvalues 0 {1 1 1 1 1}", error("Invalid number of measurements")},
      {"st setvertices 0 {1}", error("Invalid number of vertices")},
      {"st setvertices 0", error("Usage: st setvertex index vertexList [offset]")},
      {"st setpatchtypes 0 {1}", error("st has no patch values")},
      {"st setzvalues 0 \"{\"", error("Error in parsing zvalueList")},
  });
  EXPECT_EQ(st.updates, before + 2);
  EXPECT_EQ(st.store->dirty, 1);
}

TEST(ShapeCommand, InfoCommand) {
  Tcl_CreateCommand(testInterp(), "shape.info", shapeInfoCmd, nullptr, nullptr);
  runRows({
      {("shape.info " + fixture("polygon.shp")).c_str(),
       ok("{shapeID 9994} {version 1000} {typeID 5} {type POLYGON} {length 220} "
          "{xyrange {0 0 30 30}} {zrange {0 0}} {mrange {0 0}} {count 2}")},
      {"shape.info /no/such.shp", ok("")},
      {"shape.info", error("Usage: shape.info shapeFile")},
  });
  Tcl_DeleteCommand(testInterp(), "shape.info");
}

TEST(ShapeKinds, TypesAndKinds) {
  EXPECT_EQ(shapeTypeForKind(KIND_MULTIPOINTZ), SHP_MULTIPOINTZ);
  EXPECT_EQ(shapeTypeForKind(0x300), -1);
  EXPECT_EQ(shapeBaseKind(SHP_MULTIPOINTM), KIND_POINT);
  EXPECT_EQ(shapeBaseKind(SHP_POLYGONZ), KIND_POLYGON);
  EXPECT_EQ(shapeBaseKind(SHP_MULTIPATCH), 0);
  EXPECT_EQ(shapeTypeFromName("MULTIPATCH"), 31);
  EXPECT_EQ(shapeTypeName(2), nullptr);
}
