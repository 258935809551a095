#pragma once
// The street around the receiver: building walls and footprints in a local frame around
// the data, indexed with Boost.Geometry R-trees. For a receiver position and a
// satellite's direction it says whether the direct path is clear or blocked, whether a
// blocked satellite still arrives by a reflection off a wall (itself in view of the
// satellite), and whether a clear one also has an echo; under a tunnel nothing arrives.
#include <cstdint>
#include <filesystem>
#include <memory>
#include <optional>
#include <span>
#include <utility>
#include <vector>

#include "street/street_reader.hpp"

namespace trajix::street {

/// East and north in metres from the model's origin (the first point read).
struct LocalPoint {
    double east = 0, north = 0;
};

/// One vertical wall: a footprint edge from a to b, from low to high metres above ground.
struct Wall {
    float ax, ay, bx, by;
    float low, high;
};

/// A corner of a footprint in the local frame, as precise as the walls (a millimetre
/// 10 km from the origin): 8 bytes, so that a city of a million buildings stays small.
struct FootprintPoint {
    float east = 0, north = 0;
    operator LocalPoint() const { return {east, north}; }
};
/// One ring of a footprint, without a closing point.
using FootprintRing = std::span<const FootprintPoint>;

/// A footprint in the local frame, from low to high metres above the ground; its rings
/// (outer ring then holes) are StreetModel::rings(footprint).
struct Footprint {
    std::uint32_t firstRing = 0, ringCount = 0;  ///< into the model's table of rings
    float low = 0, high = 0;
};

/// The rings of one footprint, the outer ring first: a view into the model.
class FootprintRings {
public:
    FootprintRings(const FootprintPoint* points, const std::uint32_t* ends, std::size_t count)
        : points_(points), ends_(ends), count_(count)
    {
    }
    std::size_t size() const { return count_; }
    /// ends[-1] .. ends[i]: each ring ends where the next begins.
    FootprintRing operator[](std::size_t i) const
    {
        return {points_ + ends_[static_cast<std::ptrdiff_t>(i) - 1], points_ + ends_[i]};
    }
    FootprintRing front() const { return (*this)[0]; }

    class Iterator {
    public:
        Iterator(const FootprintRings* rings, std::size_t index) : rings_(rings), index_(index) {}
        FootprintRing operator*() const { return (*rings_)[index_]; }
        Iterator& operator++()
        {
            ++index_;
            return *this;
        }
        bool operator==(const Iterator& other) const { return index_ == other.index_; }

    private:
        const FootprintRings* rings_;
        std::size_t index_;
    };
    Iterator begin() const { return {this, 0}; }
    Iterator end() const { return {this, count_}; }

private:
    const FootprintPoint* points_;
    const std::uint32_t* ends_;
    std::size_t count_;
};

struct StreetModelOptions {
    double antennaHeight = 1.5;    ///< metres above the ground under the receiver
    double reflectionLossDb = 6;   ///< a reflected copy is this much weaker
    double reflectionRange = 100;  ///< metres from the receiver to a reflection point, beyond: too weak to count
};

enum class Reception { clear, reflected, blocked };

/// A copy of a satellite's signal that arrives after a reflection.
struct Reflection {
    double extraPath = 0;  ///< metres longer than the direct path
    double lossDb = 0;
    std::uint32_t wall = 0;  ///< index into walls()
};

struct SatelliteInStreet {
    Reception reception = Reception::clear;
    std::optional<Reflection> reflection;  ///< reflected: the path received; clear: an echo, if any
};

/// A stretch of a covered way in the local frame, and half its width in metres.
struct CoveredSegment {
    LocalPoint a, b;
    double halfWidth = 0;
};

/// Where the receiver is: its local point and whether a tunnel or a covered way is over it.
struct Place {
    LocalPoint point;
    bool covered = false;
};

class StreetModel {
    struct Data;

public:
    /// Reads a file (see readStreet) and builds the model. Throws Error as readStreet does.
    static StreetModel fromFile(const std::filesystem::path& file, const StreetReadOptions& readOptions,
                                const StreetModelOptions& options, StreetReadSummary* summary = nullptr);

    /// Collects what a reader streams, converting each point to the local frame at once.
    class Builder final : public StreetSink {
    public:
        explicit Builder(const StreetModelOptions& options);
        ~Builder() override;
        void building(BuildingFootprint&& building) override;
        void coveredWay(CoveredWay&& way) override;
        void coveredArea(CoveredArea&& area) override;
        /// Drops every outline that holds a building:part (the parts carry the heights),
        /// splits the footprints into walls and builds the indexes.
        StreetModel finish();

    private:
        std::unique_ptr<StreetModel::Data> data_;
    };

    StreetModel(StreetModel&&) noexcept;
    StreetModel& operator=(StreetModel&&) noexcept;
    ~StreetModel();

    LocalPoint local(double latitude, double longitude) const;
    /// The latitude and longitude (degrees) of a local point: local()'s inverse.
    LonLat geographic(LocalPoint point) const;
    /// The receiver at latitude, longitude (degrees) heading (degrees from north, or
    /// nullopt when it stands): covered within a covered way's half width while heading
    /// along it (within 30 degrees either way), or anywhere inside a covered area.
    Place place(double latitude, double longitude, std::optional<double> heading) const;

    /// What arrives from a satellite at azimuth and elevation (degrees) at the antenna.
    SatelliteInStreet satellite(const Place& place, double azimuth, double elevation) const;
    /// satellite() for many satellites (azimuth, elevation) at one place, which looks up
    /// the walls around the place once.
    std::vector<SatelliteInStreet> satellites(const Place& place,
                                              const std::vector<std::pair<double, double>>& directions) const;

    /// Whether the straight line from the antenna towards azimuth/elevation meets a
    /// building (the antenna inside a building sees nothing).
    bool blocked(LocalPoint receiver, double azimuth, double elevation) const;

    /// The skyline around a place: for azimuths 0, step, 2 step... below 360 degrees, the
    /// highest elevation (degrees) at which a building's edge stands, 0 where none stands
    /// above the antenna. blocked() says blocked just below it and clear above it (within
    /// the reach it looks); under a tunnel, inside a building or under a raised one, 90.
    std::vector<double> skyline(const Place& place, double stepDegrees) const;

    const std::vector<Wall>& walls() const;
    const std::vector<Footprint>& footprints() const;
    /// A footprint's rings: valid while the model lives.
    FootprintRings rings(const Footprint& footprint) const;
    const StreetModelOptions& options() const;
    std::size_t coveredWays() const;
    /// The covered ways' stretches and the covered areas (rings as footprints have them).
    const std::vector<CoveredSegment>& coveredSegments() const;
    const std::vector<std::vector<std::vector<LocalPoint>>>& coveredAreas() const;

private:
    explicit StreetModel(std::unique_ptr<Data> data);
    std::unique_ptr<Data> data_;
};

}  // namespace trajix::street
