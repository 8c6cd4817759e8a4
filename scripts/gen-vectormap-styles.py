#!/usr/bin/env python3
"""Writes the built-in vector map styles, src/resources/styles/{openmaptiles,protomaps}-{day,night}.json.

One layer list per schema and one palette per look, so that day and night draw the same things and only
their colours differ. Our own work; run it again after changing a layer or a colour and commit the
output (the build only embeds the JSON files).
"""
import json
import os

DAY = dict(
    background="#f2efe9", earth="#f2efe9", water="#aad3df", wood="#add19e", grass="#cdebb0",
    farmland="#eef0d5", ice="#fdfdfd", sand="#f5e9c6", wetland="#d6e6d3", residential="#e8e4de",
    industrial="#ebdbe8", cemetery="#aacbaf", institution="#f7efd6", park="#c8facc",
    building="#d9d0c9", building_outline="#c4b6ab", aeroway="#dadae0",
    motorway="#e892a2", motorway_casing="#c24e6b", trunk="#f9b29c", trunk_casing="#c8705a",
    primary="#fcd6a4", primary_casing="#b88a4a", secondary="#f7fabf", secondary_casing="#9d9d6c",
    minor="#ffffff", minor_casing="#bcb6ae", path="#e07060", track="#a07a3c", rail="#9a9a9a",
    rail_dash="#ffffff", tunnel="#d8d4cf", boundary="#9b8fb5", text="#333333", halo="#ffffff",
    road_text="#444444", water_text="#3f6f8f", place_text="#1f1f1f", dot="#444444", poi_text="#6a5a4a",
)
NIGHT = dict(
    background="#1c1f25", earth="#1c1f25", water="#16283a", wood="#1f2d23", grass="#222e25",
    farmland="#22251f", ice="#30353d", sand="#2c2a23", wetland="#1f2c2b", residential="#22242a",
    industrial="#282430", cemetery="#213028", institution="#292720", park="#1d3124",
    building="#2b2f37", building_outline="#363b46", aeroway="#2a2d35",
    motorway="#b0705a", motorway_casing="#3a2320", trunk="#92704a", trunk_casing="#35281c",
    primary="#7d6c48", primary_casing="#2d271a", secondary="#5e5d48", secondary_casing="#25251c",
    minor="#454a55", minor_casing="#15171b", path="#8a6258", track="#6d5a3a", rail="#5c626e",
    rail_dash="#2a2e35", tunnel="#33373f", boundary="#7a6f99", text="#d6dae0", halo="#101216",
    road_text="#c2c7cf", water_text="#7aa3c4", place_text="#eceef2", dot="#c9cdd4", poi_text="#b9a88f",
)

REGULAR = ["Noto Sans Regular"]
BOLD = ["Noto Sans Bold"]
ITALIC = ["Noto Sans Italic"]


def zoom_curve(*stops, base=1.4):
    """An exponential curve over zoom from (zoom, value) pairs."""
    out = ["interpolate", ["exponential", base], ["zoom"]]
    for z, v in stops:
        out += [z, v]
    return out


def layer(id, type, source_layer=None, filter=None, minzoom=None, maxzoom=None, layout=None, paint=None):
    l = {"id": id, "type": type}
    if source_layer:
        l["source"] = "vector"
        l["source-layer"] = source_layer
    if minzoom is not None:
        l["minzoom"] = minzoom
    if maxzoom is not None:
        l["maxzoom"] = maxzoom
    if filter is not None:
        l["filter"] = filter
    if layout:
        l["layout"] = layout
    l["paint"] = paint or {}
    return l


def fill(id, src, filter, color, minzoom=None, opacity=None, outline=None):
    paint = {"fill-color": color}
    if opacity is not None:
        paint["fill-opacity"] = opacity
    if outline:
        paint["fill-outline-color"] = outline
    return layer(id, "fill", src, filter, minzoom, paint=paint)


def line(id, src, filter, color, width, minzoom=None, dash=None, round_=True, opacity=None):
    paint = {"line-color": color, "line-width": width}
    if dash:
        paint["line-dasharray"] = dash
    if opacity is not None:
        paint["line-opacity"] = opacity
    layout = {"line-cap": "round", "line-join": "round"} if round_ else {"line-join": "round"}
    return layer(id, "line", src, filter, minzoom, layout=layout, paint=paint)


def label(id, src, filter, field, p, size, color="text", font=REGULAR, minzoom=None, maxzoom=None,
          along=False, transform=None, halo=1.5, max_width=8):
    layout = {"text-field": field, "text-font": font, "text-size": size, "text-max-width": max_width}
    if along:
        layout["symbol-placement"] = "line"
    if transform:
        layout["text-transform"] = transform
    paint = {"text-color": p[color], "text-halo-color": p["halo"], "text-halo-width": halo}
    return layer(id, "symbol", src, filter, minzoom, maxzoom, layout=layout, paint=paint)


def road_pair(name, src, filter, p, color, casing, width, minzoom=None, casing_minzoom=None):
    """A road class as its casing (drawn first, wider) and its fill."""
    casing_width = ["interpolate", ["exponential", 1.4], ["zoom"]]
    for i in range(3, len(width), 2):
        casing_width += [width[i], width[i + 1] * 1.35 + 1]
    return (line(name + "-casing", src, filter, p[casing], casing_width, casing_minzoom or minzoom),
            line(name, src, filter, p[color], width, minzoom))


def is_(key, *values):
    return ["match", ["get", key], list(values), True, False] if len(values) > 1 else ["==", ["get", key], values[0]]


# ---- OpenMapTiles ----

def openmaptiles(p, night):
    name = ["coalesce", ["get", "name:latin"], ["get", "name"]]
    polygon = ["==", ["geometry-type"], "Polygon"]
    not_tunnel = ["!=", ["get", "brunnel"], "tunnel"]
    tunnel = ["==", ["get", "brunnel"], "tunnel"]
    layers = [layer("background", "background", paint={"background-color": p["background"]})]
    for cls, color in [("farmland", "farmland"), ("wood", "wood"), ("grass", "grass"), ("wetland", "wetland"),
                       ("sand", "sand"), ("ice", "ice")]:
        layers.append(fill("landcover-" + cls, "landcover", is_("class", cls), p[color]))
    layers += [
        fill("landuse-residential", "landuse", is_("class", "residential", "suburb", "neighbourhood"),
             p["residential"], opacity=zoom_curve((8, 0.4), (13, 1))),
        fill("landuse-industrial", "landuse", is_("class", "industrial", "commercial", "retail", "railway"),
             p["industrial"], minzoom=10),
        fill("landuse-institution", "landuse", is_("class", "hospital", "school", "university", "college"),
             p["institution"], minzoom=11),
        fill("landuse-cemetery", "landuse", is_("class", "cemetery"), p["cemetery"], minzoom=11),
        fill("park", "park", polygon, p["park"], opacity=0.7),
        fill("water", "water", ["!=", ["get", "brunnel"], "tunnel"], p["water"]),
        line("waterway-river", "waterway", is_("class", "river", "canal"), p["water"],
             zoom_curve((8, 0.8), (12, 2), (18, 12))),
        line("waterway-stream", "waterway", is_("class", "stream", "drain", "ditch"), p["water"],
             zoom_curve((13, 0.8), (18, 4)), minzoom=13),
        fill("aeroway-area", "aeroway", polygon, p["aeroway"], minzoom=11),
        line("aeroway-runway", "aeroway", ["all", ["==", ["geometry-type"], "LineString"],
                                           is_("class", "runway", "taxiway")],
             p["aeroway"], zoom_curve((11, 1), (13, 4), (18, 60)), minzoom=11, round_=False),
        fill("building", "building", True, p["building"], minzoom=13,
             opacity=zoom_curve((13, 0.5), (15, 1)), outline=p["building_outline"]),
        line("road-tunnel", "transportation", ["all", tunnel, is_("class", "motorway", "trunk", "primary",
                                                                     "secondary", "tertiary", "minor")],
             p["tunnel"], zoom_curve((12, 1), (18, 16)), minzoom=12, dash=[0.5, 0.25]),
        line("road-path", "transportation", ["all", not_tunnel, is_("class", "path")], p["path"],
             zoom_curve((14, 0.6), (18, 2)), minzoom=14, dash=[2, 1.5], round_=False),
        line("road-track", "transportation", ["all", not_tunnel, is_("class", "track")], p["track"],
             zoom_curve((13, 0.6), (18, 3)), minzoom=13, dash=[3, 1.5], round_=False),
    ]
    minor = ["all", not_tunnel, is_("class", "minor", "service")]
    medium = ["all", not_tunnel, is_("class", "secondary", "tertiary")]
    major = ["all", not_tunnel, is_("class", "primary", "trunk")]
    motorway = ["all", not_tunnel, is_("class", "motorway")]
    minor_width = zoom_curve((12, 0.5), (14, 2.5), (18, 18))
    layers += road_pair("road-minor", "transportation", minor, p, "minor", "minor_casing", minor_width,
                        minzoom=12, casing_minzoom=13)
    medium_pair = road_pair("road-secondary", "transportation", medium, p, "secondary", "secondary_casing",
                            zoom_curve((8, 0.5), (12, 1.8), (14, 4), (18, 22)), minzoom=8, casing_minzoom=11)
    medium_pair[1]["paint"]["line-color"] = ["match", ["get", "class"], "tertiary", p["minor"], p["secondary"]]
    layers += medium_pair
    major_pair = road_pair("road-primary", "transportation", major, p, "primary", "primary_casing",
                           zoom_curve((6, 0.5), (10, 1.5), (14, 5), (18, 26)), minzoom=6, casing_minzoom=9)
    major_pair[1]["paint"]["line-color"] = ["match", ["get", "class"], "trunk", p["trunk"], p["primary"]]
    layers += major_pair
    layers += road_pair("road-motorway", "transportation", motorway, p, "motorway", "motorway_casing",
                        zoom_curve((5, 0.6), (10, 2), (14, 6), (18, 28)), minzoom=5, casing_minzoom=8)
    rail = ["all", not_tunnel, is_("class", "rail", "transit")]
    layers += [
        line("railway", "transportation", rail, p["rail"], zoom_curve((10, 0.8), (18, 4)), minzoom=10,
             round_=False),
        line("railway-dash", "transportation", rail, p["rail_dash"], zoom_curve((14, 1), (18, 2.5)), minzoom=14,
             dash=[3, 3], round_=False),
        line("boundary-state", "boundary", ["all", ["==", ["get", "admin_level"], 4],
                                            ["!=", ["get", "maritime"], 1]],
             p["boundary"], zoom_curve((3, 0.6), (12, 2)), minzoom=3, dash=[3, 2]),
        line("boundary-country", "boundary", ["all", ["==", ["get", "admin_level"], 2],
                                              ["!=", ["get", "maritime"], 1]],
             p["boundary"], zoom_curve((0, 0.8), (6, 1.6), (12, 3))),
        label("waterway-name", "waterway", ["has", "name"], name, p, 12, "water_text", ITALIC, minzoom=13,
              along=True),
        label("water-name", "water_name", ["has", "name"], name, p,
              ["match", ["get", "class"], ["ocean", "sea"], 16, 13], "water_text", ITALIC),
        label("road-name", "transportation_name",
              is_("class", "motorway", "trunk", "primary", "secondary", "tertiary", "minor", "service"),
              name, p, zoom_curve((13, 10), (18, 14), base=1.2), "road_text", minzoom=13, along=True),
        label("housenumber", "housenumber", True, "{housenumber}", p, 10, "road_text", minzoom=17, halo=1),
        label("poi", "poi", ["<=", ["get", "rank"], ["step", ["zoom"], 5, 16, 20, 17, 40]], name, p, 11,
              "poi_text", minzoom=15, max_width=7),
        label("place-suburb", "place", is_("class", "suburb", "quarter", "neighbourhood"), name, p,
              zoom_curve((12, 10), (16, 14), base=1.2), minzoom=12, maxzoom=17, transform="uppercase"),
        label("place-village", "place", is_("class", "village", "hamlet", "isolated_dwelling"), name, p,
              zoom_curve((11, 10), (16, 15), base=1.2), "place_text", minzoom=11),
        label("place-town", "place", is_("class", "town"), name, p, zoom_curve((8, 11), (15, 18), base=1.2),
              "place_text", minzoom=8),
        layer("place-city-dot", "circle", "place", ["all", is_("class", "city"), ["<=", ["get", "rank"], 10]],
              maxzoom=9, paint={"circle-radius": zoom_curve((4, 2), (9, 3.5)), "circle-color": p["dot"],
                                "circle-stroke-color": p["halo"], "circle-stroke-width": 1}),
        label("place-city", "place", is_("class", "city"), name, p,
              zoom_curve((4, 12), (8, 16), (14, 24), base=1.2), "place_text", BOLD, minzoom=4),
        label("place-state", "place", is_("class", "state"), name, p, zoom_curve((4, 10), (7, 14), base=1.2),
              "boundary", minzoom=4, maxzoom=8, transform="uppercase"),
        label("place-country", "place", is_("class", "country"), name, p,
              zoom_curve((1, 10), (6, 18), base=1.2), "place_text", BOLD, maxzoom=8),
    ]
    return layers


# ---- Protomaps basemap ----

def protomaps(p, night):
    name = ["coalesce", ["get", "name"], ["get", "name:en"]]
    polygon = ["==", ["geometry-type"], "Polygon"]
    not_tunnel = ["!", ["to-boolean", ["get", "is_tunnel"]]]
    tunnel = ["to-boolean", ["get", "is_tunnel"]]
    layers = [
        layer("background", "background", paint={"background-color": p["water"]}),
        fill("earth", "earth", True, p["earth"]),
    ]
    for kinds, color in [(["farmland"], "farmland"), (["forest"], "wood"), (["grassland", "scrub"], "grass"),
                         (["barren"], "sand"), (["glacier"], "ice")]:
        layers.append(fill("landcover-" + kinds[0], "landcover", is_("kind", *kinds), p[color]))
    layers += [
        fill("landuse-residential", "landuse", is_("kind", "residential", "neighbourhood"), p["residential"],
             opacity=zoom_curve((8, 0.4), (13, 1))),
        fill("landuse-industrial", "landuse", is_("kind", "industrial", "commercial", "retail", "railway"),
             p["industrial"], minzoom=10),
        fill("landuse-institution", "landuse", is_("kind", "hospital", "school", "university", "college"),
             p["institution"], minzoom=11),
        fill("landuse-cemetery", "landuse", is_("kind", "cemetery", "grave_yard"), p["cemetery"], minzoom=11),
        fill("landuse-wood", "landuse", is_("kind", "forest", "wood", "nature_reserve"), p["wood"], opacity=0.6),
        fill("landuse-park", "landuse", is_("kind", "park", "garden", "playground", "golf_course",
                                            "national_park", "protected_area", "grass", "meadow"),
             p["park"], opacity=0.7),
        fill("landuse-aeroway", "landuse", is_("kind", "aerodrome", "runway", "taxiway"), p["aeroway"],
             minzoom=11),
        fill("water", "water", polygon, p["water"]),
        line("water-river", "water", ["all", ["==", ["geometry-type"], "LineString"],
                                      is_("kind", "river", "canal")],
             p["water"], zoom_curve((8, 0.8), (12, 2), (18, 12))),
        line("water-stream", "water", ["all", ["==", ["geometry-type"], "LineString"],
                                       is_("kind", "stream", "drain", "ditch")],
             p["water"], zoom_curve((13, 0.8), (18, 4)), minzoom=13),
        fill("buildings", "buildings", polygon, p["building"], minzoom=13,
             opacity=zoom_curve((13, 0.5), (15, 1)), outline=p["building_outline"]),
        line("roads-tunnel", "roads", ["all", tunnel, is_("kind", "highway", "major_road", "minor_road")],
             p["tunnel"], zoom_curve((12, 1), (18, 16)), minzoom=12, dash=[0.5, 0.25]),
        line("roads-path", "roads", ["all", not_tunnel, is_("kind", "path")], p["path"],
             zoom_curve((14, 0.6), (18, 2)), minzoom=14, dash=[2, 1.5], round_=False),
        line("roads-other", "roads", ["all", not_tunnel, is_("kind", "other")], p["track"],
             zoom_curve((13, 0.6), (18, 3)), minzoom=13, dash=[3, 1.5], round_=False),
    ]
    minor = ["all", not_tunnel, is_("kind", "minor_road")]
    medium = ["all", not_tunnel, is_("kind", "major_road"), is_("kind_detail", "secondary", "tertiary")]
    major = ["all", not_tunnel, is_("kind", "major_road"),
             ["!", ["in", ["get", "kind_detail"], ["literal", ["secondary", "tertiary"]]]]]
    motorway = ["all", not_tunnel, is_("kind", "highway")]
    layers += road_pair("roads-minor", "roads", minor, p, "minor", "minor_casing",
                        zoom_curve((12, 0.5), (14, 2.5), (18, 18)), minzoom=12, casing_minzoom=13)
    medium_pair = road_pair("roads-secondary", "roads", medium, p, "secondary", "secondary_casing",
                            zoom_curve((8, 0.5), (12, 1.8), (14, 4), (18, 22)), minzoom=8, casing_minzoom=11)
    medium_pair[1]["paint"]["line-color"] = ["match", ["get", "kind_detail"], "tertiary", p["minor"],
                                             p["secondary"]]
    layers += medium_pair
    major_pair = road_pair("roads-primary", "roads", major, p, "primary", "primary_casing",
                           zoom_curve((6, 0.5), (10, 1.5), (14, 5), (18, 26)), minzoom=6, casing_minzoom=9)
    major_pair[1]["paint"]["line-color"] = ["match", ["get", "kind_detail"], "trunk", p["trunk"], p["primary"]]
    layers += major_pair
    layers += road_pair("roads-highway", "roads", motorway, p, "motorway", "motorway_casing",
                        zoom_curve((5, 0.6), (10, 2), (14, 6), (18, 28)), minzoom=5, casing_minzoom=8)
    rail = ["all", not_tunnel, is_("kind", "rail")]
    layers += [
        line("roads-rail", "roads", rail, p["rail"], zoom_curve((10, 0.8), (18, 4)), minzoom=10, round_=False),
        line("roads-rail-dash", "roads", rail, p["rail_dash"], zoom_curve((14, 1), (18, 2.5)), minzoom=14,
             dash=[3, 3], round_=False),
        line("boundaries-region", "boundaries", is_("kind", "region"), p["boundary"],
             zoom_curve((3, 0.6), (12, 2)), minzoom=3, dash=[3, 2]),
        line("boundaries-country", "boundaries", is_("kind", "country"), p["boundary"],
             zoom_curve((0, 0.8), (6, 1.6), (12, 3))),
        label("water-line-name", "water", ["all", ["==", ["geometry-type"], "LineString"], ["has", "name"]],
              name, p, 12, "water_text", ITALIC, minzoom=13, along=True),
        label("water-name", "water", ["all", ["==", ["geometry-type"], "Point"], ["has", "name"]], name, p,
              ["match", ["get", "kind"], ["ocean", "sea"], 16, 13], "water_text", ITALIC),
        label("roads-name", "roads", is_("kind", "highway", "major_road", "minor_road"), name, p,
              zoom_curve((13, 10), (18, 14), base=1.2), "road_text", minzoom=13, along=True),
        label("address", "buildings", ["has", "addr_housenumber"], ["get", "addr_housenumber"], p, 10,
              "road_text", minzoom=17, halo=1),
        label("pois", "pois", ["<=", ["to-number", ["get", "min_zoom"]], ["+", ["zoom"], 1]], name, p, 11,
              "poi_text", minzoom=15, max_width=7),
        label("places-neighbourhood", "places", is_("kind", "neighbourhood", "macrohood"), name, p,
              zoom_curve((12, 10), (16, 14), base=1.2), minzoom=12, maxzoom=17, transform="uppercase"),
        label("places-village", "places", ["all", is_("kind", "locality"),
                                           is_("kind_detail", "village", "hamlet", "isolated_dwelling")],
              name, p, zoom_curve((11, 10), (16, 15), base=1.2), "place_text", minzoom=11),
        label("places-town", "places", ["all", is_("kind", "locality"), is_("kind_detail", "town")], name, p,
              zoom_curve((8, 11), (15, 18), base=1.2), "place_text", minzoom=8),
        layer("places-city-dot", "circle", "places", ["all", is_("kind", "locality"), is_("kind_detail", "city")],
              maxzoom=9, paint={"circle-radius": zoom_curve((4, 2), (9, 3.5)), "circle-color": p["dot"],
                                "circle-stroke-color": p["halo"], "circle-stroke-width": 1}),
        label("places-city", "places", ["all", is_("kind", "locality"), is_("kind_detail", "city")], name, p,
              zoom_curve((4, 12), (8, 16), (14, 24), base=1.2), "place_text", BOLD, minzoom=4),
        label("places-region", "places", is_("kind", "region"), name, p, zoom_curve((4, 10), (7, 14), base=1.2),
              "boundary", minzoom=4, maxzoom=8, transform="uppercase"),
        label("places-country", "places", is_("kind", "country"), name, p,
              zoom_curve((1, 10), (6, 18), base=1.2), "place_text", BOLD, maxzoom=8),
    ]
    return layers


def main():
    out = os.path.join(os.path.dirname(os.path.abspath(__file__)), "..", "src", "resources", "styles")
    for schema, build in [("openmaptiles", openmaptiles), ("protomaps", protomaps)]:
        for look, palette in [("day", DAY), ("night", NIGHT)]:
            style = {"version": 8, "name": "VorGlobal %s %s" % (schema, look),
                     "sources": {"vector": {"type": "vector"}},
                     "layers": build(palette, look == "night")}
            with open(os.path.join(out, "%s-%s.json" % (schema, look)), "w") as f:
                json.dump(style, f, indent=1)
                f.write("\n")


if __name__ == "__main__":
    main()
