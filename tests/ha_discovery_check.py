#!/usr/bin/env python3
"""Checks zamgate's Home Assistant discovery configs the way Home Assistant
reads them: every key one that Home Assistant documents for the component,
the keys it requires present, device classes it knows, and every template
rendered with Jinja against the gateway's own state payloads.

    ha_discovery_check.py CASES.json

CASES.json: {"configs": [{"topic", "payload"}], "status": {"online": {...},
"lost": {...}, "offline": {...}}, "states": {GATE_TOPIC: {"good": {...},
"stale": {...}, "failed": {...}, "never": {...}}}} (kinds that a gate lacks
are left out). Prints one line per fault and "N passed, N failed".
"""
import json
import sys

import jinja2

# The keys Home Assistant's MQTT integration documents, per component.
COMMON = {
    "availability", "availability_mode", "availability_template", "availability_topic", "default_entity_id",
    "device", "enabled_by_default", "encoding", "entity_category", "entity_picture", "icon",
    "json_attributes_template", "json_attributes_topic", "name", "object_id", "origin", "payload_available",
    "payload_not_available", "platform", "qos", "unique_id",
}
KEYS = {
    "sensor": {"device_class", "expire_after", "force_update", "last_reset_value_template", "options",
               "suggested_display_precision", "state_class", "state_topic", "unit_of_measurement", "value_template"},
    "binary_sensor": {"device_class", "expire_after", "force_update", "off_delay", "payload_off", "payload_on",
                      "state_topic", "value_template"},
    "number": {"command_template", "command_topic", "device_class", "max", "min", "mode", "optimistic",
               "payload_reset", "retain", "state_topic", "step", "unit_of_measurement", "value_template"},
    "switch": {"command_template", "command_topic", "device_class", "optimistic", "payload_off", "payload_on",
               "retain", "state_off", "state_on", "state_topic", "value_template"},
    "text": {"command_template", "command_topic", "max", "min", "mode", "pattern", "retain", "state_topic",
             "value_template"},
}
REQUIRED = {
    "sensor": {"state_topic"},
    "binary_sensor": {"state_topic"},
    "number": {"command_topic"},
    "switch": {"command_topic"},
    "text": {"command_topic"},
}
DEVICE_KEYS = {"configuration_url", "connections", "hw_version", "identifiers", "manufacturer", "model", "model_id",
               "name", "serial_number", "suggested_area", "sw_version", "via_device"}
ORIGIN_KEYS = {"name", "sw_version", "support_url"}
SENSOR_CLASSES = {"temperature", "humidity", "pressure", "power", "energy", "voltage", "current", "frequency",
                  "volume_flow_rate", "illuminance", "carbon_dioxide", "speed", "duration"}
BINARY_CLASSES = {"connectivity", "occupancy", "running", "problem", "opening", "heat", "cold", "power"}
STATE_CLASSES = {"measurement", "total", "total_increasing"}
ENTITY_CATEGORIES = {"config", "diagnostic"}

faults = []
checks = 0


def check(condition, text):
    global checks
    checks += 1
    if not condition:
        faults.append(text)


def render(template, payload):
    """A template as Home Assistant renders a state payload: value and value_json."""
    env = jinja2.Environment(undefined=jinja2.StrictUndefined)
    return env.from_string(template).render(value=json.dumps(payload), value_json=payload).strip()


def is_number(text):
    try:
        float(text)
        return True
    except ValueError:
        return False


def main():
    cases = json.load(open(sys.argv[1], encoding="utf-8"))
    status = cases["status"]
    unique_ids = set()
    for config in cases["configs"]:
        topic, payload = config["topic"], config["payload"]
        parts = topic.split("/")
        component = parts[1] if len(parts) == 5 else "?"
        where = topic
        check(component in KEYS and parts[-1] == "config", f"{where}: not <prefix>/<component>/<node>/<object>/config")
        if component not in KEYS:
            continue
        for key in payload:
            check(key in COMMON or key in KEYS[component], f"{where}: '{key}' is no key of {component}")
        for key in REQUIRED[component]:
            check(key in payload, f"{where}: lacks '{key}'")
        check(payload.get("unique_id") not in unique_ids, f"{where}: unique_id {payload.get('unique_id')} twice")
        unique_ids.add(payload.get("unique_id"))
        for key in payload.get("device", {}):
            check(key in DEVICE_KEYS, f"{where}: '{key}' is no key of a device")
        for key in payload.get("origin", {}):
            check(key in ORIGIN_KEYS, f"{where}: '{key}' is no key of an origin")
        check(payload.get("entity_category", "config") in ENTITY_CATEGORIES, f"{where}: entity_category")
        if "device_class" in payload:
            classes = BINARY_CLASSES if component == "binary_sensor" else SENSOR_CLASSES
            check(payload["device_class"] in classes, f"{where}: device class {payload['device_class']}")
            if component in ("sensor", "number"):
                check("unit_of_measurement" in payload, f"{where}: a device class without a unit")
        if "state_class" in payload:
            check(payload["state_class"] in STATE_CLASSES, f"{where}: state class {payload['state_class']}")
        if component in ("number", "switch", "text"):
            check(payload.get("retain") is False, f"{where}: commands must go with retain off")
            check(payload["command_topic"] == payload.get("state_topic", "") + "/set", f"{where}: command topic")
        if component == "number":
            check(payload["min"] <= payload["max"], f"{where}: min above max")
            check(payload.get("step", 1) > 0, f"{where}: step")

        # Availability: the gateway's status, then the gate's quality.
        availability = payload.get("availability", [])
        for entry in availability:
            check(set(entry) <= {"topic", "value_template", "payload_available", "payload_not_available"},
                  f"{where}: availability keys {sorted(entry)}")
        state_topic = payload.get("state_topic")
        states = cases["states"].get(state_topic, {})
        if state_topic != status.get("topic"):
            check(len(availability) == 2 and payload.get("availability_mode") == "all",
                  f"{where}: availability must be the gateway's status and the gate's quality, both")
            check(len(states) > 0, f"{where}: no state payloads of {state_topic} to render against")
        for entry in availability:
            template = entry.get("value_template", "{{ value }}")
            if entry["topic"] == status["topic"]:
                for kind, expected in (("online", "online"), ("lost", "offline"), ("offline", "offline")):
                    got = render(template, status[kind])
                    check(got == expected, f"{where}: status {kind} renders '{got}' for availability, not {expected}")
            else:
                check(entry["topic"] == state_topic, f"{where}: availability topic {entry['topic']}")
                for kind, state in states.items():
                    expected = "offline" if state["quality"] == "failed" else "online"
                    got = render(template, state)
                    check(got == expected, f"{where}: {kind} state renders '{got}' for availability, not {expected}")

        # The value: never "None"; a number for numbers, on/off payloads for states.
        template = payload.get("value_template", "{{ value }}")
        for kind, state in states.items():
            got = render(template, state)
            check(got != "None" and "None" not in got, f"{where}: {kind} state renders '{got}'")
            if state.get("value") is None:
                check(got == "", f"{where}: {kind} state without a value renders '{got}', not nothing")
                continue
            if component in ("number",) or (component == "sensor" and "unit_of_measurement" in payload):
                check(is_number(got), f"{where}: {kind} state renders '{got}', not a number")
            if component == "binary_sensor" and state_topic != status.get("topic"):
                check(got in (payload["payload_on"], payload["payload_off"]), f"{where}: {kind} renders '{got}'")
            if component == "switch":
                check(got in (payload["state_on"], payload["state_off"]), f"{where}: {kind} renders '{got}'")
            if component == "text":
                check(got != "" and got in state["text"], f"{where}: {kind} renders '{got}' from '{state['text']}'")
        if state_topic == status.get("topic"):
            for kind, expected in (("online", "ON"), ("lost", "OFF"), ("offline", "OFF")):
                got = render(template, status[kind])
                check(got == expected, f"{where}: status {kind} renders '{got}', not {expected}")

    for fault in faults:
        print(fault)
    print(f"{checks - len(faults)} passed, {len(faults)} failed")
    return 1 if faults else 0


if __name__ == "__main__":
    sys.exit(main())
