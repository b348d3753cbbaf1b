import flash.display.Sprite;
import flash.events.MouseEvent;
import flash.text.TextField;

/** A boxed list of player names, one selectable at a time, scrolled with the wheel. */
class PlayerList extends Sprite {
	static inline var ROW = 20;

	var w:Float;
	var rows:Array<Sprite> = [];
	var texts:Array<TextField> = [];
	var empty:TextField;
	var names:Array<String> = [];
	var first = 0;
	var hovered = -1;
	var onSelect:String->Void;

	public var selected(default, null):String = null;

	public function new(w:Float, visibleRows:Int, onSelect:String->Void) {
		super();
		this.w = w;
		this.onSelect = onSelect;
		var h = visibleRows * ROW + 4;
		Ui.box(graphics, 0, 0, w, h, Ui.FIELD, Ui.PANEL_EDGE);

		for (i in 0...visibleRows) {
			var row = new Sprite();
			row.x = 2;
			row.y = 2 + i * ROW;
			row.mouseChildren = false;
			row.buttonMode = true;
			var tf = Ui.label("", 12, Ui.TEXT);
			tf.x = 6;
			tf.y = 1;
			row.addChild(tf);
			addChild(row);
			rows.push(row);
			texts.push(tf);
			row.addEventListener(MouseEvent.ROLL_OVER, function(_) { hovered = i; redraw(); });
			row.addEventListener(MouseEvent.ROLL_OUT, function(_) { if (hovered == i) hovered = -1; redraw(); });
			row.addEventListener(MouseEvent.CLICK, function(_) select(first + i));
		}
		empty = Ui.label("no players yet", 12, Ui.DIM);
		empty.x = 8;
		empty.y = 3;
		addChild(empty);

		addEventListener(MouseEvent.MOUSE_WHEEL, function(e:MouseEvent) {
			scrollTo(first - (e.delta > 0 ? 1 : -1));
		});
		redraw();
	}

	/** New names from the host; the selection survives if its name is still listed. */
	public function setNames(list:Array<String>) {
		names = list;
		if (selected != null && names.indexOf(selected) < 0)
			selected = null;
		scrollTo(first);
	}

	function select(index:Int) {
		if (index >= names.length)
			return;
		selected = names[index];
		redraw();
		onSelect(selected);
	}

	function scrollTo(index:Int) {
		var last = names.length - rows.length;
		first = index > last ? last : index;
		if (first < 0)
			first = 0;
		redraw();
	}

	function redraw() {
		empty.visible = names.length == 0;
		for (i in 0...rows.length) {
			var index = first + i;
			var row = rows[i];
			row.visible = index < names.length;
			if (!row.visible)
				continue;
			var name = names[index];
			texts[i].text = name == "" ? "(blank name)" : name;
			row.graphics.clear();
			var fill = name == selected ? Ui.ACCENT : (i == hovered ? Ui.PANEL_EDGE : Ui.FIELD);
			row.graphics.beginFill(fill);
			row.graphics.drawRect(0, 0, w - 4, ROW);
			row.graphics.endFill();
		}
	}
}
