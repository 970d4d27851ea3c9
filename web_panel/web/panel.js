// The generator's web panel. It shows the state that the server sends and posts the user's
// actions; every code, text and point comes from the server (the page computes none).
"use strict";

(function () {
  var byId = function (id) { return document.getElementById(id); };
  var TYPED = ["frequency", "offset", "amplitude"];
  var READOUTS = { maximum: "maximum", dcLevel: "dc-level", minimum: "minimum", period: "period" };

  var current = null;   // the last state shown
  var shownSeq = -1;    // its seq: an action's answer older than an event is not shown again
  var errors = {};      // field -> {error, text}: the refusal shown beside a field
  var edited = {};      // field -> true while the user is typing into it

  function setOptions(select, texts) {
    var same = select.options.length === texts.length;
    for (var i = 0; same && i < texts.length; i++) {
      same = select.options[i].text === texts[i];
    }
    if (same) return;
    select.textContent = "";
    texts.forEach(function (text, index) {
      select.appendChild(new Option(text, String(index)));
    });
  }

  function setJumpers(texts, chosen) {
    var group = byId("jumpers");
    var radios = group.querySelectorAll("input");
    if (radios.length !== texts.length) {
      group.querySelectorAll("label").forEach(function (label) { label.remove(); });
      texts.forEach(function (text, index) {
        var label = document.createElement("label");
        var radio = document.createElement("input");
        radio.type = "radio";
        radio.name = "jumper";
        radio.value = String(index);
        label.appendChild(radio);
        label.appendChild(document.createTextNode(text));
        group.appendChild(label);
      });
      radios = group.querySelectorAll("input");
    }
    radios.forEach(function (radio, index) {
      radio.nextSibling.textContent = texts[index];
      radio.checked = index === chosen;
    });
  }

  function setPreview(markup) {
    var picture = byId("picture");
    if (picture.dataset.markup === markup) return;
    picture.dataset.markup = markup;
    var parsed = new DOMParser().parseFromString(markup, "image/svg+xml");
    var svg = parsed.documentElement;
    picture.textContent = "";
    if (svg && svg.nodeName === "svg") {
      svg.setAttribute("aria-hidden", "true");
      svg.setAttribute("focusable", "false");
      picture.appendChild(document.importNode(svg, true));
    }
  }

  function showError(field, error) {
    var input = byId(field);
    var note = byId(field + "-error");
    if (!input || !note) return;
    if (error) {
      errors[field] = { error: error, text: current ? String(current[field]) : "" };
      note.textContent = error;
      input.setAttribute("aria-invalid", "true");
    } else {
      delete errors[field];
      note.textContent = "";
      input.removeAttribute("aria-invalid");
    }
  }

  function render(state) {
    current = state;
    shownSeq = state.seq;
    setOptions(byId("wave"), state.waves);
    byId("wave").value = String(state.wave);
    setOptions(byId("spw"), state.spws);
    byId("spw").value = String(state.spw);
    // A refusal stays beside its field until that field changes.
    Object.keys(errors).forEach(function (field) {
      if (String(state[field]) !== errors[field].text) showError(field, null);
    });
    TYPED.forEach(function (field) {
      var input = byId(field);
      if (!(edited[field] && document.activeElement === input)) {
        input.value = state[field];
        edited[field] = false;
      }
    });
    var duty = byId("duty");
    if (!(edited.duty && document.activeElement === duty)) {
      duty.value = String(state.duty);
      edited.duty = false;
    }
    setJumpers(state.jumpers, state.jumper);
    byId("run").textContent = state.button;
    Object.keys(READOUTS).forEach(function (key) {
      byId(READOUTS[key]).value = state.readouts[key];
    });
    setPreview(state.preview);
    var line = byId("status-line");
    line.textContent = state.status;
    line.classList.toggle("lost", !state.connected);
    var identity = state.identity;
    byId("id-manufacturer").textContent = identity.manufacturer;
    byId("id-model").textContent = identity.model;
    byId("id-serial").textContent = identity.serial;
    byId("id-version").textContent = identity.version;
    var list = byId("id-resources");
    list.textContent = "";
    identity.resources.forEach(function (resource) {
      var item = document.createElement("li");
      item.textContent = resource;
      list.appendChild(item);
    });
  }

  // One action, as the server takes it; its answer carries the state after it.
  function act(body) {
    return fetch("/api/action", {
      method: "POST",
      headers: { "Content-Type": "application/json" },
      body: JSON.stringify(body),
      cache: "no-store"
    }).then(function (response) {
      if (response.status === 403) askSession();  // the session ended (24 h, or a new server)
      return response.json().catch(function () { return null; }).then(function (answer) {
        // A refused value leaves the field showing the instrument's value again.
        if (answer && answer.state && answer.state.seq > shownSeq) {
          render(answer.state);
        } else if (response.status === 422 && current) {
          render(current);
        }
        if (response.status === 422 && answer && answer.field) {
          showError(answer.field, answer.error);
        } else if (response.ok && body.field) {
          showError(body.field, null);
        }
        return response.ok;
      });
    }).catch(function () {
      showLost();
      return false;
    });
  }

  // A waveform's file, sent as it is: the server reads it, loads its shape and chooses it. A
  // refused file's reason stays beside the field; nothing changed then.
  function upload(file) {
    return fetch("/api/waveform", {
      method: "POST",
      headers: { "Content-Type": "application/octet-stream" },
      body: file,
      cache: "no-store"
    }).then(function (response) {
      if (response.status === 403) askSession();
      return response.text().then(function (text) {
        var answer = null;
        try {
          answer = JSON.parse(text);
        } catch (error) {
          answer = null;
        }
        if (answer && answer.state && answer.state.seq > shownSeq) render(answer.state);
        if (response.ok) {
          showError("waveform", null);
        } else {
          showError("waveform", answer && answer.error ? answer.error : text.trim());
        }
        return response.ok;
      });
    }).catch(function () {
      showLost();
      return false;
    });
  }

  // Whether this page may change the generator, as its state request tells: without a session
  // every control is disabled and the sign-in form shows.
  function showSession(session) {
    byId("controls").disabled = !session;
    byId("load").disabled = !session;
    byId("sign-in").hidden = session;
  }

  function askSession() {
    return fetch("/api/state", { cache: "no-store" }).then(function (response) {
      return response.json();
    }).then(function (state) {
      showSession(state.session === true);
      if (state.seq > shownSeq) render(state);
    }).catch(function () {
      showLost();
    });
  }

  // The server does not answer (an action failed, or the event stream broke).
  function showLost() {
    var line = byId("status-line");
    line.textContent = "Server lost: reconnecting...";
    line.classList.add("lost");
  }

  function typedValue(field) {
    var input = byId(field);
    input.addEventListener("input", function () { edited[field] = true; });
    input.addEventListener("keydown", function (event) {
      if (event.key === "Enter") {
        event.preventDefault();
        edited[field] = false;
        var text = input.value.trim();
        act({ do: "set", field: field, text: text });
      } else if (event.key === "Escape" && current) {
        edited[field] = false;
        input.value = current[field];
      }
    });
    input.addEventListener("blur", function () {
      // Leaving a field without Enter drops what was typed, as the panel never took it.
      if (edited[field] && current) {
        edited[field] = false;
        input.value = current[field];
      }
    });
  }

  function wire() {
    document.querySelectorAll("button[data-field]").forEach(function (button) {
      button.addEventListener("click", function () {
        act({ do: "step", field: button.dataset.field, dir: button.dataset.dir,
              coarse: button.dataset.coarse === "1" });
      });
    });
    TYPED.forEach(typedValue);
    ["wave", "spw"].forEach(function (field) {
      byId(field).addEventListener("change", function (event) {
        act({ do: "set", field: field, value: Number(event.target.value) });
      });
    });
    byId("jumpers").addEventListener("change", function (event) {
      if (event.target.name === "jumper") {
        act({ do: "set", field: "jumper", value: Number(event.target.value) });
      }
    });
    // The duty: arrow keys and the spin buttons change it at once; a typed number on Enter or
    // when the field is left.
    var duty = byId("duty");
    var sendDuty = function () {
      edited.duty = false;
      var value = duty.valueAsNumber;
      if (isNaN(value)) {
        if (current) duty.value = String(current.duty);
        return;
      }
      if (current && value === current.duty && !errors.duty) return;
      act({ do: "set", field: "duty", value: value });
    };
    duty.addEventListener("input", function () { edited.duty = true; });
    duty.addEventListener("change", sendDuty);
    duty.addEventListener("keydown", function (event) {
      if (event.key === "Enter") {
        event.preventDefault();
        sendDuty();
      }
    });
    byId("run").addEventListener("click", function () { act({ do: "run" }); });
    var file = byId("waveform");
    file.addEventListener("change", function () {
      if (!file.files.length) return;
      upload(file.files[0]).then(function () { file.value = ""; });
    });
    var preview = byId("preview");
    var dropping = function (on) {
      return function (event) {
        event.preventDefault();
        preview.classList.toggle("dropping", on);
      };
    };
    preview.addEventListener("dragenter", dropping(true));
    preview.addEventListener("dragover", dropping(true));
    preview.addEventListener("dragleave", dropping(false));
    preview.addEventListener("drop", function (event) {
      dropping(false)(event);
      var files = event.dataTransfer && event.dataTransfer.files;
      if (files && files.length) upload(files[0]);
    });
  }

  function listen() {
    var events = new EventSource("/events");
    // Each time the stream opens, also after a restarted server, whose sessions are new.
    events.onopen = askSession;
    events.onmessage = function (event) {
      var state;
      try {
        state = JSON.parse(event.data);
      } catch (error) {
        return;
      }
      render(state);  // events come in order, also after a reconnect to a restarted server
    };
    events.onerror = function () {
      showLost();
      // EventSource reconnects by itself; a server that refused the stream ends it, so
      // start another one after a pause.
      if (events.readyState === EventSource.CLOSED) setTimeout(listen, 2000);
    };
  }

  wire();
  listen();
})();
