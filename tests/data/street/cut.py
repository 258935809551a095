#!/usr/bin/env python3
"""Cuts the shared building files down to the test files beside this script.

    python3 cut.py /work/shared/data/buildings

Lower Manhattan (OSM XML): the buildings and building parts whose every node lies in the
box, the relations whose members all survive, and the tunnel and covered ways cut to
their runs of nodes inside the box, each with the nodes it uses, in the file's order.
Upper East Side (GeoJSON): the features whose every position lies in the box. Nothing
else changes: tags, ids and coordinates are the originals.
"""
import json
import sys
import xml.etree.ElementTree as ET
from pathlib import Path

source = Path(sys.argv[1])
here = Path(__file__).resolve().parent

# Lower Manhattan: West Street's building passages, the Battery Park Underpass and
# tunnel approaches, the footway tunnels and the towers between them.
SOUTH, NORTH, WEST, EAST = 40.7040, 40.7090, -74.0165, -74.0095
tree = ET.parse(source / "osm-api-nyc-lower-manhattan-fidi-tunnels.osm")
root = tree.getroot()
nodes = {n.get("id"): n for n in root.findall("node")}


def inside(node):
    lat, lon = float(node.get("lat")), float(node.get("lon"))
    return SOUTH <= lat <= NORTH and WEST <= lon <= EAST


def tags(element):
    return {t.get("k"): t.get("v") for t in element.findall("tag")}


kept_ways, used_nodes = set(), set()
out = ET.Element("osm", root.attrib)
ET.SubElement(out, "bounds", minlat=str(SOUTH), minlon=str(WEST), maxlat=str(NORTH), maxlon=str(EAST))
ways_out = []
for way in root.findall("way"):
    t = tags(way)
    refs = [nd.get("ref") for nd in way.findall("nd")]
    if "building" in t or "building:part" in t:
        if all(r in nodes and inside(nodes[r]) for r in refs):
            kept_ways.add(way.get("id"))
            used_nodes.update(refs)
            ways_out.append(way)
    elif ("tunnel" in t and t["tunnel"] != "no") or t.get("covered") == "yes":
        run = [r for r in refs if r in nodes and inside(nodes[r])]
        if len(run) >= 2:
            cut = ET.Element("way", way.attrib)
            for r in run:
                ET.SubElement(cut, "nd", ref=r)
            for tag in way.findall("tag"):
                cut.append(tag)
            kept_ways.add(way.get("id"))
            used_nodes.update(run)
            ways_out.append(cut)
relations_out = []
for relation in root.findall("relation"):
    members = relation.findall("member")
    if members and all(m.get("type") == "way" and m.get("ref") in kept_ways for m in members):
        relations_out.append(relation)
for node in root.findall("node"):
    if node.get("id") in used_nodes:
        out.append(node)
out.extend(ways_out)
out.extend(relations_out)
ET.indent(out)
ET.ElementTree(out).write(here / "lower-manhattan-cut.osm", encoding="UTF-8", xml_declaration=True)

# Upper East Side: a few blocks around the one ring that crosses itself (way/266933396).
data = json.loads((source / "overpass-nyc-upper-east-side-1239bldg.geojson").read_text())
SOUTH, NORTH, WEST, EAST = 40.7780, 40.7815, -73.9560, -73.9510


def positions(geometry):
    if geometry["type"] == "Point":
        return [geometry["coordinates"]]
    if geometry["type"] == "Polygon":
        return [p for ring in geometry["coordinates"] for p in ring]
    return []


features = [f for f in data["features"]
            if positions(f["geometry"]) and all(SOUTH <= lat <= NORTH and WEST <= lon <= EAST
                                                for lon, lat in positions(f["geometry"]))]
data["features"] = features
(here / "upper-east-side-cut.geojson").write_text(json.dumps(data, indent=1, ensure_ascii=False) + "\n")
