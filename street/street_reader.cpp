#include "street/street_reader.hpp"

#include <fstream>
#include <memory>
#include <mutex>
#include <optional>
#include <regex>
#include <unordered_map>

#include <fmt/format.h>
#include <gdal_priv.h>
#include <ogrsf_frmts.h>
#include <boost/geometry.hpp>

#include "common/error.hpp"

namespace trajix::street {

namespace {

namespace bg = boost::geometry;
using PlanePoint = bg::model::d2::point_xy<double>;
using PlaneRing = bg::model::ring<PlanePoint, true, false>;

constexpr std::size_t notesKept = 100;

/// GDAL's messages go to its last-error slot, never to stderr, while one of these lives;
/// the first failure PROJ reports is kept (GDAL drops a coordinate system PROJ does not
/// know with nothing but that message, and goes on without one).
class QuietGdal {
public:
    QuietGdal()
    {
        static std::once_flag registered;
        std::call_once(registered, [] { GDALAllRegister(); });
        CPLPushErrorHandlerEx(&QuietGdal::handler, this);
        CPLErrorReset();
    }
    const std::string& projFailure() const { return projFailure_; }
    void forgetProjFailure() { projFailure_.clear(); }
    ~QuietGdal() { CPLPopErrorHandler(); }
    QuietGdal(const QuietGdal&) = delete;
    QuietGdal& operator=(const QuietGdal&) = delete;

    static std::string lastMessage()
    {
        const std::string message = CPLGetLastErrorMsg();
        return message.empty() ? "no message" : message;
    }

private:
    static void CPL_STDCALL handler(CPLErr type, CPLErrorNum, const char* message)
    {
        auto* self = static_cast<QuietGdal*>(CPLGetErrorHandlerUserData());
        if (self && type >= CE_Failure && message && std::string_view(message).starts_with("PROJ") &&
            self->projFailure_.empty())
            self->projFailure_ = message;
    }
    std::string projFailure_;
};

/// The name a GeoJSON file's "crs" member gives (a CRS GDAL dropped), for the message.
std::string geojsonCrsName(const std::filesystem::path& file)
{
    std::ifstream in(file, std::ios::binary);
    std::string head(8192, '\0');
    in.read(head.data(), static_cast<std::streamsize>(head.size()));
    head.resize(static_cast<std::size_t>(in.gcount()));
    static const std::regex crs(R"re("crs"\s*:\s*\{[^}]*"name"\s*:\s*"([^"]{1,200})")re");
    std::smatch match;
    if (std::regex_search(head, match, crs)) return match[1].str();
    return {};
}

struct DatasetCloser {
    void operator()(GDALDataset* dataset) const { GDALClose(dataset); }
};

struct FeatureDeleter {
    void operator()(OGRFeature* feature) const { OGRFeature::DestroyFeature(feature); }
};

/// What is looked up once per layer.
struct LayerInfo {
    std::unique_ptr<OGRCoordinateTransformation> toWgs84;  ///< null: already WGS-84 longitude, latitude
    bool footprintsOnly = false;
    int otherTags = -1;                           ///< field index of the OSM driver's other_tags
    int osmId = -1, osmWayId = -1, plainId = -1;  ///< fields that name a feature in notes
};

class Reader {
public:
    Reader(const std::filesystem::path& file, const StreetReadOptions& options, StreetSink& sink)
        : file_(file), options_(options), sink_(sink)
    {
        wgs84_.SetWellKnownGeogCS("WGS84");
        wgs84_.SetAxisMappingStrategy(OAMS_TRADITIONAL_GIS_ORDER);
    }

    StreetReadSummary read()
    {
        const QuietGdal quiet;
        std::error_code error;
        if (!std::filesystem::is_regular_file(file_, error))
            throw Error(fmt::format("{}: cannot read buildings from it ({})", file_.string(),
                                    std::filesystem::exists(file_, error) ? "not a file" : "no such file"));
        const char* vectorOnly[] = {nullptr};
        GDALDriverH driver = GDALIdentifyDriverEx(file_.c_str(), GDAL_OF_VECTOR, nullptr, nullptr);
        if (!driver)
            throw Error(fmt::format(
                "{}: GDAL cannot read it as buildings ({})", file_.string(),
                CPLGetLastErrorMsg()[0] ? CPLGetLastErrorMsg() : "no GDAL driver recognises it as vector data"));
        // OSM files from the API's map call and from editors are not sorted by node id,
        // which the OSM driver's own index needs; its SQLite index takes any order and
        // keeps the nodes on disk beyond a bounded cache.
        const char* osmOptions[] = {"USE_CUSTOM_INDEXING=NO", nullptr};
        const bool isOsm = std::string_view(GDALGetDriverShortName(driver)) == "OSM";
        std::unique_ptr<GDALDataset, DatasetCloser> dataset(static_cast<GDALDataset*>(GDALOpenEx(
            file_.c_str(), GDAL_OF_VECTOR | GDAL_OF_READONLY, nullptr, isOsm ? osmOptions : vectorOnly, nullptr)));
        if (!dataset)
            throw Error(
                fmt::format("{}: GDAL cannot read it as buildings ({})", file_.string(), QuietGdal::lastMessage()));
        if (!quiet.projFailure().empty()) {
            const std::string name = geojsonCrsName(file_);
            throw Error(fmt::format("{}: its coordinate system{} is not one PROJ knows ({})", file_.string(),
                                    name.empty() ? "" : " '" + visibleText(name) + "'", quiet.projFailure()));
        }
        osm_ = dataset->GetDriver() && std::string_view(dataset->GetDriver()->GetDescription()) == "OSM";
        const std::string driverName = dataset->GetDriver() ? dataset->GetDriver()->GetDescription() : "?";

        // The dataset hands out the features of every layer in the order the file holds
        // them: the one way the OSM driver reads a file once, and the plain layer order
        // for the others.
        std::size_t features = 0;
        for (;;) {
            OGRLayer* layer = nullptr;
            std::unique_ptr<OGRFeature, FeatureDeleter> feature(
                dataset->GetNextFeature(&layer, nullptr, nullptr, nullptr));
            if (!feature) break;
            ++features;
            if (!layer) continue;
            auto& info = layerInfo(*layer);
            take(*feature, *layer, info);
        }
        if (CPLGetLastErrorType() == CE_Failure || CPLGetLastErrorType() == CE_Fatal)
            note(fmt::format("{}: GDAL stopped with an error, the rest of the file is not read ({})", file_.string(),
                             CPLGetLastErrorMsg()));
        if (summary_.buildings == 0) {
            const std::string gdalSays = CPLGetLastErrorMsg();
            throw Error(fmt::format("{}: no building in it (GDAL read it as {} with {} features in {} layers{}{})",
                                    file_.string(), driverName, features, dataset->GetLayerCount(),
                                    gdalSays.empty() ? "" : "; GDAL said: ", gdalSays));
        }
        return std::move(summary_);
    }

private:
    LayerInfo& layerInfo(OGRLayer& layer)
    {
        const auto found = layers_.find(&layer);
        if (found != layers_.end()) return found->second;
        LayerInfo info;
        const OGRFeatureDefn* definition = layer.GetLayerDefn();
        info.footprintsOnly =
            !osm_ && definition->GetFieldIndex("building") < 0 && definition->GetFieldIndex("building:part") < 0;
        info.otherTags = osm_ ? definition->GetFieldIndex("other_tags") : -1;
        info.osmId = definition->GetFieldIndex("osm_id");
        info.osmWayId = definition->GetFieldIndex("osm_way_id");
        for (const char* name : {"@id", "id", "ID", "OBJECTID", "BIN", "name"}) {
            info.plainId = definition->GetFieldIndex(name);
            if (info.plainId >= 0) break;
        }
        if (!osm_ && !options_.heights.heightAttribute.empty() &&
            definition->GetFieldIndex(options_.heights.heightAttribute.c_str()) < 0)
            note(fmt::format("{}: layer {} has no field {}; its heights come from the OSM tags or the default",
                             file_.string(), layer.GetName(), options_.heights.heightAttribute));
        if (const OGRSpatialReference* source = layer.GetSpatialRef()) {
            const char* wgs84Options[] = {"IGNORE_DATA_AXIS_TO_SRS_AXIS_MAPPING=NO", nullptr};
            if (!(source->IsGeographic() && source->IsSame(&wgs84_, wgs84Options) &&
                  source->GetDataAxisToSRSAxisMapping() == std::vector<int>{1, 2})) {
                CPLErrorReset();
                info.toWgs84.reset(OGRCreateCoordinateTransformation(source, &wgs84_));
                if (!info.toWgs84) {
                    const char* name = source->GetName();
                    char* wkt = nullptr;
                    source->exportToWkt(&wkt);
                    const std::string described = name && *name ? name : (wkt ? wkt : "?");
                    CPLFree(wkt);
                    throw Error(fmt::format("{}: coordinate system '{}' is not one PROJ can transform to WGS-84 ({})",
                                            file_.string(), described, QuietGdal::lastMessage()));
                }
            }
        }
        return layers_.emplace(&layer, std::move(info)).first->second;
    }

    std::string featureName(const OGRFeature& feature, OGRLayer& layer, const LayerInfo& info) const
    {
        if (osm_) {
            if (info.osmWayId >= 0 && feature.IsFieldSetAndNotNull(info.osmWayId))
                return fmt::format("way {}", feature.GetFieldAsString(info.osmWayId));
            if (info.osmId >= 0 && feature.IsFieldSetAndNotNull(info.osmId)) {
                const bool relation = std::string_view(layer.GetName()) == "multipolygons";
                return fmt::format("{} {}", relation ? "relation" : "way", feature.GetFieldAsString(info.osmId));
            }
        }
        if (info.plainId >= 0 && feature.IsFieldSetAndNotNull(info.plainId))
            return fmt::format("feature {}", feature.GetFieldAsString(info.plainId));
        return fmt::format("feature {} of layer {}", feature.GetFID(), layer.GetName());
    }

    void note(std::string text)
    {
        if (summary_.notes.size() < notesKept)
            summary_.notes.push_back(std::move(text));
        else
            ++summary_.notesDropped;
    }

    void take(OGRFeature& feature, OGRLayer& layer, const LayerInfo& info)
    {
        OGRGeometry* geometry = feature.GetGeometryRef();
        if (!geometry) return;
        const auto type = wkbFlatten(geometry->getGeometryType());
        if (type == wkbPoint || type == wkbMultiPoint) return;

        tags_.clear();
        const int fields = feature.GetFieldCount();
        for (int i = 0; i < fields; ++i) {
            if (!feature.IsFieldSetAndNotNull(i)) continue;
            if (i == info.otherTags) {
                appendOtherTags(feature.GetFieldAsString(i), tags_);
                continue;
            }
            tags_.emplace_back(feature.GetFieldDefnRef(i)->GetNameRef(), feature.GetFieldAsString(i));
        }

        const bool polygonal = type == wkbPolygon || type == wkbMultiPolygon || type == wkbGeometryCollection;
        const bool linear = type == wkbLineString || type == wkbMultiLineString;
        if (!polygonal && !linear) return;
        const BuildingKind kind = buildingKind(tags_, info.footprintsOnly && polygonal);
        const bool closedLine = type == wkbLineString && geometry->toLineString()->get_IsClosed();
        if (kind != BuildingKind::none && (polygonal || closedLine)) {
            const HeightResult heights = buildingHeights(tags_, options_.heights);
            if (!heights.heights) {
                ++summary_.leftOut;
                note(fmt::format("{}: {}: {}; left out", file_.string(), featureName(feature, layer, info),
                                 heights.problem));
                return;
            }
            if (!transform(*geometry, feature, layer, info)) return;
            building_.heights = *heights.heights;
            building_.part = kind == BuildingKind::part;
            forEachPolygon(*geometry, feature, layer, info, [&](std::vector<Ring>&& rings) {
                BuildingFootprint footprint{std::move(rings), building_.heights, building_.part};
                sink_.building(std::move(footprint));
                ++summary_.buildings;
            });
            return;
        }
        if (linear) {
            const auto width = coveringWidth(tags_, options_.railTunnels);
            if (!width) return;
            if (!transform(*geometry, feature, layer, info)) return;
            auto emit = [&](const OGRLineString& line) {
                CoveredWay way;
                way.width = *width;
                for (int i = 0; i < line.getNumPoints(); ++i) way.line.push_back({line.getX(i), line.getY(i)});
                if (way.line.size() < 2) return;
                sink_.coveredWay(std::move(way));
                ++summary_.coveredWays;
            };
            if (type == wkbLineString)
                emit(*geometry->toLineString());
            else
                for (const auto* line : *geometry->toMultiLineString()) emit(*line);
            return;
        }
        if (polygonal && coversArea(tags_)) {
            if (!transform(*geometry, feature, layer, info)) return;
            forEachPolygon(*geometry, feature, layer, info, [&](std::vector<Ring>&& rings) {
                sink_.coveredArea(CoveredArea{std::move(rings)});
                ++summary_.coveredAreas;
            });
        }
    }

    bool transform(OGRGeometry& geometry, const OGRFeature& feature, OGRLayer& layer, const LayerInfo& info)
    {
        if (!info.toWgs84) return true;
        if (geometry.transform(info.toWgs84.get()) == OGRERR_NONE) return true;
        ++summary_.leftOut;
        note(fmt::format("{}: {}: its coordinates do not transform to WGS-84 ({}); left out", file_.string(),
                         featureName(feature, layer, info), QuietGdal::lastMessage()));
        return false;
    }

    /// A ring as we keep it, or the reason it is skipped.
    std::optional<Ring> ringOf(const OGRSimpleCurve& curve, std::string& problem)
    {
        const int count = curve.getNumPoints();
        if (count < 4 || curve.getX(0) != curve.getX(count - 1) || curve.getY(0) != curve.getY(count - 1)) {
            problem = count < 4 ? "a ring of fewer than 3 points" : "a ring that does not close";
            return std::nullopt;
        }
        Ring ring;
        ring.reserve(static_cast<std::size_t>(count - 1));
        for (int i = 0; i + 1 < count; ++i) {
            const LonLat point{curve.getX(i), curve.getY(i)};
            if (!std::isfinite(point.lon) || !std::isfinite(point.lat) || std::abs(point.lat) > 90) {
                problem = "a ring with a point off the Earth";
                return std::nullopt;
            }
            if (!ring.empty() && ring.back().lon == point.lon && ring.back().lat == point.lat) continue;
            ring.push_back(point);
        }
        while (ring.size() > 1 && ring.back().lon == ring.front().lon && ring.back().lat == ring.front().lat)
            ring.pop_back();
        if (ring.size() < 3) {
            problem = "a ring of fewer than 3 distinct points";
            return std::nullopt;
        }
        plane_.clear();
        for (const auto& point : ring) plane_.emplace_back(point.lon, point.lat);
        if (bg::intersects(plane_)) {
            problem = "a ring that crosses itself";
            return std::nullopt;
        }
        return ring;
    }

    template <class Emit>
    void forEachPolygon(const OGRGeometry& geometry, const OGRFeature& feature, OGRLayer& layer, const LayerInfo& info,
                        Emit&& emit)
    {
        const auto type = wkbFlatten(geometry.getGeometryType());
        if (type == wkbMultiPolygon || type == wkbGeometryCollection) {
            for (const auto* part : *geometry.toGeometryCollection()) forEachPolygon(*part, feature, layer, info, emit);
            return;
        }
        std::vector<Ring> rings;
        std::string problem;
        if (type == wkbLineString) {
            const auto ring = ringOf(*geometry.toLineString(), problem);
            if (!ring) {
                ++summary_.leftOut;
                note(fmt::format("{}: {}: {}; left out", file_.string(), featureName(feature, layer, info), problem));
                return;
            }
            rings.push_back(std::move(*ring));
        } else if (type == wkbPolygon) {
            const auto& polygon = *geometry.toPolygon();
            if (!polygon.getExteriorRing()) return;
            const auto outer = ringOf(*polygon.getExteriorRing(), problem);
            if (!outer) {
                ++summary_.leftOut;
                note(fmt::format("{}: {}: {}; left out", file_.string(), featureName(feature, layer, info), problem));
                return;
            }
            rings.push_back(std::move(*outer));
            for (int i = 0; i < polygon.getNumInteriorRings(); ++i) {
                auto hole = ringOf(*polygon.getInteriorRing(i), problem);
                if (!hole) {
                    ++summary_.leftOut;
                    note(fmt::format("{}: {}: hole {}: {}; the hole is skipped", file_.string(),
                                     featureName(feature, layer, info), i + 1, problem));
                    continue;
                }
                rings.push_back(std::move(*hole));
            }
        } else {
            return;
        }
        emit(std::move(rings));
    }

    const std::filesystem::path& file_;
    const StreetReadOptions& options_;
    StreetSink& sink_;
    OGRSpatialReference wgs84_;
    bool osm_ = false;
    std::unordered_map<const OGRLayer*, LayerInfo> layers_;
    StreetReadSummary summary_;
    Tags tags_;
    PlaneRing plane_;
    BuildingFootprint building_;
};

}  // namespace

StreetReadSummary readStreet(const std::filesystem::path& file, const StreetReadOptions& options, StreetSink& sink)
{
    return Reader(file, options, sink).read();
}

}  // namespace trajix::street
