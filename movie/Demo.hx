import flash.Lib;
import flash.display.Sprite;
import flash.display.StageAlign;
import flash.display.StageScaleMode;
import flash.events.KeyboardEvent;
import flash.external.ExternalInterface;
import flash.text.TextField;
import flash.text.TextFormatAlign;

/**
 * The movie that ships with the host: one screen that exercises every command the
 * host understands and shows every call the host makes back into the movie.
 */
class Demo extends Sprite {
	static inline var W = 800;
	static inline var H = 600;
	static inline var M = 20;
	static inline var LOG_LINES = 6;

	var players:PlayerList;
	var newName:TextField;
	var selectedLabel:TextField;
	var profileButtons:Array<FlatButton> = [];
	var levelData:TextField;
	var scores:TextField;
	var config:TextField;
	var screenButton:FlatButton;
	var log:TextField;
	var lastSent:TextField;
	var overlay:Sprite;

	var messages:Array<String> = [];
	var fullScreen = true;

	static function main() {
		var stage = Lib.current.stage;
		stage.scaleMode = StageScaleMode.SHOW_ALL;
		stage.align = cast "";
		Lib.current.addChild(new Demo());
	}

	function new() {
		super();
		// The host may call any of these as soon as the first command is out.
		listen("PlayerLoadComplete", onPlayerList);
		listen("LevelLoadComplete", function(text) levelData.text = Ui.toField(text));
		listen("HSReadComplete", function(text) scores.text = Ui.toField(text));
		listen("ConfigDataReadComplete", function(text) config.text = Ui.toField(text));
		listen("SwitchFullscreenMarker", onFullscreenMarker);
		listen("CloseRequested", function(_) showOverlay(true));
		listen("notifyGame", function(_) {});

		buildHeader();
		buildProfiles(M, 78, 300, 344);
		buildTextPanel("High scores", 332, 78, 218, 344, "Save scores", "SaveHighScores", "ReadHighScores",
			function(tf) scores = tf);
		buildTextPanel("Configuration", 562, 78, 218, 344, "Write config", "WriteConfigData", "ReadConfigData",
			function(tf) config = tf);
		buildLog(M, 434, W - 2 * M, H - M - 434);
		buildOverlay();

		send("GetPlayerList");
		send("ReadHighScores");
		send("ReadConfigData");
	}

	// --- Talking to the host ---------------------------------------------------

	/** Registers a callback that takes whatever arguments arrive and logs the call. */
	function listen(name:String, handler:String->Void) {
		var callback = Reflect.makeVarArgs(function(args:Array<Dynamic>):Dynamic {
			var arg = args.length > 0 && args[0] != null ? Std.string(args[0]) : "";
			addMessage(name + ": " + (arg == "" ? "(empty)" : arg));
			handler(arg);
			return null;
		});
		try {
			ExternalInterface.addCallback(name, callback);
		} catch (e:Dynamic) {
			addMessage("Cannot register " + name + ": " + Std.string(e));
		}
	}

	function send(command:String, arg = "") {
		if (lastSent != null)
			lastSent.text = "last sent: " + Ui.oneLine(command + " " + arg, 70);
		Lib.fscommand(command, arg);
	}

	function onPlayerList(list:String) {
		players.setNames(list == "" ? [] : list.split(","));
		showSelection();
	}

	function onFullscreenMarker(value:String) {
		fullScreen = value == "true";
		screenButton.setLabel(fullScreen ? "Window mode" : "Full screen");
	}

	// --- Screen ------------------------------------------------------------------

	function buildHeader() {
		var title = Ui.label("Lanternfall", 26, Ui.TEXT, true);
		title.x = M;
		title.y = 12;
		addChild(title);
		var subtitle = Ui.label("host protocol demo", 13, Ui.DIM);
		subtitle.x = M + 2;
		subtitle.y = 46;
		addChild(subtitle);

		// Right-aligned row: the mode switch, the two links and quit.
		var buttons:Array<{text:String, w:Int, click:Void->Void, danger:Bool}> = [
			{text: "Window mode", w: 116, click: function() send("game_fullscrn", fullScreen ? "false" : "true"), danger: false},
			{text: "Strategy guide", w: 116, click: function() send("StrategyGuideClick"), danger: false},
			{text: "Survey link", w: 100, click: function() send("SurveyLinkClick"), danger: false},
			{text: "Quit", w: 70, click: function() send("quit"), danger: true},
		];
		var x = W - M;
		for (s in buttons)
			x -= s.w + 8;
		x += 8;
		for (s in buttons) {
			var b = place(new FlatButton(s.text, s.w, 28, s.click, s.danger), x, 24);
			if (s.text == "Window mode")
				screenButton = b;
			x += s.w + 8;
		}
	}

	function panel(title:String, x:Float, y:Float, w:Float, h:Float) {
		Ui.box(graphics, x, y, w, h, Ui.PANEL, Ui.PANEL_EDGE);
		var t = Ui.label(title, 14, Ui.TEXT, true);
		t.x = x + 12;
		t.y = y + 8;
		addChild(t);
	}

	function buildProfiles(x:Float, y:Float, w:Float, h:Float) {
		panel("Profiles", x, y, w, h);
		var left = x + 12;
		var inner = w - 24;

		players = place(new PlayerList(inner, 5, function(_) showSelection()), left, y + 34);

		newName = place(Ui.field(inner - 80, 26, false), left, y + 148);
		newName.maxChars = 40;
		newName.addEventListener(KeyboardEvent.KEY_DOWN, function(e:KeyboardEvent) if (e.keyCode == 13) createPlayer());
		place(new FlatButton("Create", 72, 26, createPlayer), left + inner - 72, y + 148);

		selectedLabel = place(Ui.label("", 12, Ui.DIM), left, y + 184);
		var bw = (inner - 16) / 3;
		var actions:Array<{text:String, click:Void->Void, danger:Bool}> = [
			{text: "Load", click: function() send("LoadLevelData", players.selected), danger: false},
			{text: "Save", click: saveProfile, danger: false},
			{text: "Delete", click: deletePlayer, danger: true},
		];
		for (i in 0...actions.length) {
			var a = actions[i];
			profileButtons.push(place(new FlatButton(a.text, bw, 26, a.click, a.danger), left + i * (bw + 8), y + 206));
		}

		place(Ui.label("Profile data", 12, Ui.DIM), left, y + 242);
		levelData = place(Ui.field(inner, h - 272, true), left, y + 260);
		showSelection();
	}

	/** A panel with one editable text and buttons to send it and to read it again. */
	function buildTextPanel(title:String, x:Float, y:Float, w:Float, h:Float, saveText:String, saveCommand:String,
			readCommand:String, keep:TextField->Void) {
		panel(title, x, y, w, h);
		var inner = w - 24;
		var tf = place(Ui.field(inner, h - 84, true), x + 12, y + 34);
		keep(tf);
		var saveWidth = inner - 78;
		place(new FlatButton(saveText, saveWidth, 26, function() send(saveCommand, Ui.fromField(tf.text))), x + 12, y + h - 38);
		place(new FlatButton("Reload", 70, 26, function() send(readCommand)), x + 12 + saveWidth + 8, y + h - 38);
	}

	function buildLog(x:Float, y:Float, w:Float, h:Float) {
		panel("Calls from the host", x, y, w, h);
		lastSent = Ui.label("", 12, Ui.DIM);
		lastSent.autoSize = flash.text.TextFieldAutoSize.NONE;
		var fmt = Ui.format(12, Ui.DIM);
		fmt.align = TextFormatAlign.RIGHT;
		lastSent.defaultTextFormat = fmt;
		lastSent.width = w - 220;
		lastSent.height = 20;
		place(lastSent, x + w - 12 - lastSent.width, y + 9);

		log = Ui.field(w - 24, LOG_LINES * 16 + 6, false, false);
		log.multiline = true;
		log.selectable = false;
		place(log, x + 12, y + 32);
		showMessages();
	}

	function buildOverlay() {
		overlay = new Sprite();
		overlay.graphics.beginFill(0x000000, 0.6);
		overlay.graphics.drawRect(0, 0, W, H);
		overlay.graphics.endFill();
		var bw = 340, bh = 150;
		var bx = (W - bw) / 2, by = (H - bh) / 2;
		Ui.box(overlay.graphics, bx, by, bw, bh, Ui.PANEL, Ui.ACCENT);

		var question = Ui.label("Leave Lanternfall?", 18, Ui.TEXT, true);
		question.x = bx + 20;
		question.y = by + 18;
		overlay.addChild(question);
		var note = Ui.label("The window was asked to close.", 12, Ui.DIM);
		note.x = bx + 20;
		note.y = by + 50;
		overlay.addChild(note);

		var quit = new FlatButton("Quit", 100, 30, function() send("quit"), true);
		quit.x = bx + bw - 20 - 100;
		quit.y = by + bh - 48;
		overlay.addChild(quit);
		var stay = new FlatButton("Stay", 100, 30, function() showOverlay(false));
		stay.x = quit.x - 112;
		stay.y = quit.y;
		overlay.addChild(stay);

		overlay.visible = false;
		addChild(overlay);
	}

	function showOverlay(on:Bool) {
		setChildIndex(overlay, numChildren - 1);
		overlay.visible = on;
	}

	// --- Profile actions --------------------------------------------------------

	function createPlayer() {
		var name = StringTools.trim(newName.text);
		if (name == "") {
			stage.focus = newName;
			return;
		}
		newName.text = "";
		send("CreatePlayer", name);
		send("GetPlayerList");
	}

	function saveProfile() {
		send("SaveLevelData", players.selected + "|" + Ui.fromField(levelData.text));
		send("GetPlayerList");
	}

	function deletePlayer() {
		send("DeletePlayer", players.selected);
		send("GetPlayerList");
	}

	function showSelection() {
		var name = players.selected;
		selectedLabel.text = name == null ? "Select a player to load, save or delete." : "Selected: " + name;
		for (b in profileButtons)
			b.setEnabled(name != null);
	}

	// --- Message log --------------------------------------------------------------

	function addMessage(text:String) {
		messages.push(Ui.oneLine(text, 110));
		while (messages.length > LOG_LINES)
			messages.shift();
		showMessages();
	}

	function showMessages() {
		if (log != null)
			log.text = messages.join("\n");
	}

	function place<T:flash.display.DisplayObject>(child:T, x:Float, y:Float):T {
		child.x = x;
		child.y = y;
		addChild(child);
		return child;
	}
}
